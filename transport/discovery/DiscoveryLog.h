#pragma once

#include "platform/log/Log.h"

namespace velm {

// The one logger of local-network discovery, shared by the host's listener and the client's browser so
// that advertising and browsing read as one story.
inline constexpr Log discoveryLog{"discovery"};

} // namespace velm
