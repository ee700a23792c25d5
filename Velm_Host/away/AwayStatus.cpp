#include "Velm_Host/away/AwayStatus.h"

namespace velm {

std::string AwayStatus::description() const {
    switch (kind_) {
    case Kind::ready:
        return "ready(address: \"" + address_ + "\")";
    case Kind::notReachable:
        return "notReachable(routerAddress: \"" + address_ + "\")";
    case Kind::off:
        return "off";
    case Kind::looking:
        return "looking";
    case Kind::noRouter:
        return "noRouter";
    case Kind::routerRefused:
        return "routerRefused";
    }
    return "unknown";
}

} // namespace velm
