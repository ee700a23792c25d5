#include "Velm_Host/ui/OpenPairing.h"

namespace velm {

PairingWindow openPairing(DeviceRegistry& registry) {
    if (auto open = registry.pairingWindow()) {
        return *open;
    }
    return registry.openNewPairing(false);
}

} // namespace velm
