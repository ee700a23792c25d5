#pragma once

#include "transport/client/away/RouteDialer.h"

namespace velm {

// The route race's network: real control channels (made with the given options, which carry the
// resolver for an advertised endpoint) and a DoorClient for the knock.
class NetworkRouteDialer final : public RouteDialer {
public:
    explicit NetworkRouteDialer(ControlChannel::Options options = {}) : options_(std::move(options)) {}

    std::shared_ptr<ControlChannel> dial(const Endpoint& endpoint, const PreSharedKey& key,
                                         std::shared_ptr<Queue> queue,
                                         ControlChannel::EventHandler handler) override;
    void hangUp(const std::shared_ptr<ControlChannel>& channel) override;
    CallOff knock(const std::string& address, const SecretBytes& deviceKey,
                  std::optional<std::uint16_t> doorPort, std::shared_ptr<Queue> queue,
                  DoorClient::Completion completion) override;

private:
    const ControlChannel::Options options_;
};

} // namespace velm
