#pragma once

#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/core/PairingWindow.h"

namespace velm {

// Opens a pairing window for a fresh code (120 s, 5 wrong tries, closing once a device paired) when
// none is open; an open one stays as it is, with its code and its end, so that a second press or
// `--pair` never swaps the code the user is typing for another. The window that is open afterwards.
PairingWindow openPairing(DeviceRegistry& registry);

} // namespace velm
