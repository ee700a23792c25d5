#include "tests/support/LoopbackServer.h"

#include <gtest/gtest.h>

namespace velm::test {

LoopbackServer::LoopbackServer(const TlsParameters& parameters, Options options)
    : listener_(TlsListener::make(parameters, std::nullopt, options.limits)) {
    auto states = std::make_shared<EventLog<TlsListener::State>>();
    listener_->setOnState(
        [states](TlsListener::State state, const std::optional<NetError>&) { states->push(state); });
    listener_->setOnConnection(
        [accepted = accepted_, start = options.startAccepted](std::shared_ptr<TlsConnection> connection) {
            auto probe = std::make_shared<ConnectionProbe>(std::move(connection));
            if (start) {
                probe->start();
                probe->readContinuously();
            }
            accepted->push(std::move(probe));
        });
    listener_->setOnHandshakeFailed([failures = handshakeFailures_](std::optional<std::string> identity) {
        failures->push(std::move(identity));
    });
    listener_->start(queue_);
    EXPECT_TRUE(states->waitForCount(1) && states->values().front() == TlsListener::State::ready)
        << "the loopback listener did not start";
}

} // namespace velm::test
