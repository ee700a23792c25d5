#include "Velm_Host/model/LocalAddresses.h"

namespace velm {

std::vector<LocalAddress> localAddresses(const HostListener::State& listener,
                                         const std::vector<InterfaceAddress>& interfaces) {
    std::vector<LocalAddress> found;
    if (listener.kind() != HostListener::State::Kind::advertising) {
        return found;
    }
    for (const InterfaceAddress& entry : interfaces) {
        if (!entry.isUp || !entry.address.isIpv4()) {
            continue;
        }
        const auto bytes = entry.address.bytes();
        const auto text = entry.address.text();
        if (bytes[0] == 127 || text.starts_with("169.254.")) {
            continue;
        }
        found.push_back({.address = text + ":" + std::to_string(listener.port()),
                         .isVPN = bytes[0] == 100 && bytes[1] >= 64 && bytes[1] <= 127});
    }
    return found;
}

} // namespace velm
