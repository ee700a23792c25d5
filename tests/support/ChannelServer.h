#pragma once

#include "platform/net/TlsListener.h"
#include "tests/support/ChannelProbe.h"
#include "transport/channel/Endpoint.h"
#include "transport/keys/PreSharedKey.h"

#include <memory>
#include <vector>

namespace velm::test {

// A listener on a loopback port, with the control connection's parameters for the given keys,
// that wraps each accepted connection in a control channel with a probe, started unless told
// otherwise.
class ChannelServer {
public:
    explicit ChannelServer(const std::vector<PreSharedKey>& keys, bool startAccepted = true);

    std::uint16_t port() const { return listener_->port(); }
    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", port()); }

    bool waitForAccepted(std::size_t count) { return accepted_->waitForCount(count); }
    std::shared_ptr<ChannelProbe> accepted(std::size_t index) const { return accepted_->values().at(index); }

private:
    std::shared_ptr<Queue> queue_ = Queue::make("channel server");
    std::shared_ptr<EventLog<std::shared_ptr<ChannelProbe>>> accepted_ =
        std::make_shared<EventLog<std::shared_ptr<ChannelProbe>>>();
    std::shared_ptr<TlsListener> listener_;
};

} // namespace velm::test
