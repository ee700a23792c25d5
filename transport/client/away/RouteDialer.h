#pragma once

#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/away/DoorClient.h"
#include "transport/keys/PreSharedKey.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// What the route race needs of the network: outgoing control channels, and one knock on the host's
// door. NetworkRouteDialer is the real one; tests of the race's rules stand in for it.
class RouteDialer {
public:
    // Calls a knock off: its completion is never called.
    using CallOff = std::function<void()>;

    virtual ~RouteDialer() = default;

    // An outgoing channel, started on `queue`, whose events go to `handler` there.
    virtual std::shared_ptr<ControlChannel> dial(const Endpoint& endpoint, const PreSharedKey& key,
                                                 std::shared_ptr<Queue> queue,
                                                 ControlChannel::EventHandler handler) = 0;
    // Closes a channel that lost the race.
    virtual void hangUp(const std::shared_ptr<ControlChannel>& channel) = 0;
    // Knocks once on the door of the host at `address`; the completion runs on `queue` exactly once,
    // unless the knock is called off first. Dropping the call-off stops the knock too.
    virtual CallOff knock(const std::string& address, const SecretBytes& deviceKey,
                          std::optional<std::uint16_t> doorPort, std::shared_ptr<Queue> queue,
                          DoorClient::Completion completion) = 0;
};

} // namespace velm
