#include "tests/support/ChannelServer.h"

#include "transport/channel/VelmService.h"

namespace velm::test {

ChannelServer::ChannelServer(const std::vector<PreSharedKey>& keys, bool startAccepted)
    : listener_(TlsListener::make(VelmService::tlsParameters(keys), std::nullopt)) {
    auto ready = std::make_shared<EventLog<TlsListener::State>>();
    listener_->setOnState([ready](TlsListener::State state, const auto&) { ready->push(state); });
    listener_->setOnConnection(
        [accepted = accepted_, start = startAccepted](std::shared_ptr<TlsConnection> connection) {
            auto probe = std::make_shared<ChannelProbe>(ControlChannel::accepted(std::move(connection)));
            if (start) {
                probe->start();
            }
            accepted->push(std::move(probe));
        });
    listener_->start(queue_);
    ready->waitForCount(1);
    listener_->setOnState(nullptr);
}

} // namespace velm::test
