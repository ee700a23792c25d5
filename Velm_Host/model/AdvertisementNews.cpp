#include "Velm_Host/model/AdvertisementNews.h"

namespace velm {

std::optional<std::string> advertisementNews(const std::optional<ServicePublisher::State>& before,
                                             const ServicePublisher::State& after, std::uint16_t port) {
    using Kind = ServicePublisher::State::Kind;
    if (after.kind() == Kind::registering) {
        return std::nullopt;
    }
    const bool wasMissing = before && before->kind() != Kind::registered;
    if (after.kind() == Kind::registered) {
        if (!wasMissing) {
            return std::nullopt;
        }
        return "now found on the network as \"" + after.name() + "\"";
    }
    if (wasMissing && before->message() == after.message()) {
        return std::nullopt;
    }
    return "not found on the network: " + after.message() +
           "; a device can still connect by this computer's address and port" +
           (port != 0 ? " " + std::to_string(port) : std::string());
}

} // namespace velm
