#pragma once

#include "platform/net/TlsListener.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/ConnectionProbe.h"

#include <memory>

namespace velm::test {

// A TlsListener on a system-chosen port, ready once constructed (a test fails if it is
// not), whose accepted connections are each wrapped in a probe, started and read from
// (unless told to leave them unstarted).
class LoopbackServer {
public:
    struct Options {
        TlsListener::Limits limits;
        bool startAccepted = true;
    };

    explicit LoopbackServer(const TlsParameters& parameters, Options options);
    explicit LoopbackServer(const TlsParameters& parameters) : LoopbackServer(parameters, Options{}) {}

    std::uint16_t port() const { return listener_->port(); }
    HostPort endpoint() const { return {"127.0.0.1", port()}; }

    bool waitForAccepted(std::size_t count) { return accepted_->waitForCount(count); }
    std::size_t acceptedCount() const { return accepted_->values().size(); }
    std::shared_ptr<ConnectionProbe> accepted(std::size_t index) const {
        return accepted_->values().at(index);
    }
    // The identities offered by clients whose handshake failed, as the listener reported them.
    EventLog<std::optional<std::string>>& handshakeFailures() { return *handshakeFailures_; }

private:
    using Accepted = EventLog<std::shared_ptr<ConnectionProbe>>;

    std::shared_ptr<Queue> queue_ = Queue::make("listener");
    std::shared_ptr<Accepted> accepted_ = std::make_shared<Accepted>();
    std::shared_ptr<EventLog<std::optional<std::string>>> handshakeFailures_ =
        std::make_shared<EventLog<std::optional<std::string>>>();
    std::shared_ptr<TlsListener> listener_;
};

} // namespace velm::test
