#include "transport/client/away/NetworkRouteDialer.h"

#include <utility>

namespace velm {

std::shared_ptr<ControlChannel> NetworkRouteDialer::dial(const Endpoint& endpoint, const PreSharedKey& key,
                                                         std::shared_ptr<Queue> queue,
                                                         ControlChannel::EventHandler handler) {
    auto channel = ControlChannel::outgoing(endpoint, key, options_);
    channel->setOnEvent(std::move(handler));
    channel->start(std::move(queue));
    return channel;
}

void NetworkRouteDialer::hangUp(const std::shared_ptr<ControlChannel>& channel) {
    // Its handler stays until the close arrives; the race no longer listens by then.
    channel->cancel();
}

RouteDialer::CallOff NetworkRouteDialer::knock(const std::string& address, const SecretBytes& deviceKey,
                                               std::optional<std::uint16_t> doorPort,
                                               std::shared_ptr<Queue> queue,
                                               DoorClient::Completion completion) {
    auto door = DoorClient::knock(address, deviceKey, doorPort, std::move(queue), std::move(completion));
    return [door = std::move(door)] { door->cancel(); };
}

} // namespace velm
