#include "tests/support/LoopbackServer.h"

namespace velm::test {

LoopbackServer::LoopbackServer(const TlsParameters& parameters, Options options)
    : listener_(TlsListener::make(parameters, std::nullopt, options.handshakeTimeout))
{
    listener_->setStateHandler(
        [states = states_](TlsListener::State state, const std::optional<NetError>&) { states->push(state); });
    listener_->setNewConnectionHandler([accepted = accepted_, start = options.startAccepted](
                                           std::shared_ptr<TlsConnection> connection) {
        auto probe = std::make_shared<ConnectionProbe>(std::move(connection));
        if (start) {
            probe->start();
            probe->readContinuously();
        }
        accepted->push(std::move(probe));
    });
    listener_->start(queue_);
}

bool LoopbackServer::isReady()
{
    return states_->waitFor([](const auto& states) { return !states.empty(); }) &&
           states_->values().front() == TlsListener::State::ready;
}

} // namespace velm::test
