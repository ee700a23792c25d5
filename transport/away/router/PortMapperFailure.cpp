#include "transport/away/router/PortMapperFailure.h"

namespace velm {

std::string PortMapperFailure::description() const {
    switch (kind_) {
    case Kind::refused:
        return "refused(code: " + std::to_string(code_) + ")";
    case Kind::noGateway:
        return "noGateway";
    case Kind::badResponse:
        return "badResponse";
    case Kind::network:
        return "network(" + error_.message() + ")";
    }
    return "unknown";
}

} // namespace velm
