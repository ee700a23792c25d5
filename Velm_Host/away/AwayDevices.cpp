#include "Velm_Host/away/AwayDevices.h"

namespace velm {

std::vector<Door::Keyring::Device> AwayDevices::active(Date now) const {
    std::vector<Door::Keyring::Device> result;
    for (const AwayDevice& device : devices_) {
        if (result.size() == maxActive) {
            break;
        }
        if (!device.until || *device.until > now) {
            result.push_back({device.id, device.key});
        }
    }
    return result;
}

} // namespace velm
