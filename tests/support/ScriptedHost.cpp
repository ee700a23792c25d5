#include "tests/support/ScriptedHost.h"

#include "tests/support/Blocking.h"
#include "transport/channel/VelmService.h"

namespace velm::test {

ScriptedHost::ScriptedHost(const std::vector<PreSharedKey>& keys, Script script)
    : listener_(TlsListener::make(VelmService::tlsParameters(keys), std::nullopt)) {
    state_->script = std::move(script);
    auto listening = std::make_shared<EventLog<TlsListener::State>>();
    listener_->setOnState([listening](TlsListener::State state, const auto&) { listening->push(state); });
    listener_->setOnConnection([state = state_, queue = queue_](std::shared_ptr<TlsConnection> accepted) {
        auto connection = std::make_shared<Connection>();
        connection->channel = ControlChannel::accepted(std::move(accepted));
        // The handler holds the connection until the channel closes, which lets go of the handler.
        connection->channel->setOnEvent([state, connection](Event event) {
            if (state->script) {
                state->script(*connection, event);
            }
            // Recorded after the script, so whoever sees a message also sees what the script did.
            if (const auto* control = event.get<Event::Control>()) {
                state->messages.push(control->message);
            } else if (const auto* file = event.get<Event::File>()) {
                state->chunks.push(file->data.size());
            }
            if (const auto* closed = event.get<Event::Closed>()) {
                connection->sender.reset();
                connection->receiver.reset();
                state->closed.push(closed->reason);
            }
        });
        {
            std::lock_guard guard(state->lock);
            state->connections.push_back(connection);
        }
        connection->channel->start(queue);
    });
    listener_->start(queue_);
    listening->waitForCount(1);
    listener_->setOnState(nullptr);
}

ScriptedHost::~ScriptedHost() {
    listener_->cancel();
    std::size_t count = 0;
    {
        std::lock_guard guard(state_->lock);
        for (const auto& connection : state_->connections) {
            connection->channel->cancel();
        }
        count = state_->connections.size();
    }
    state_->closed.waitForCount(count);
    Blocking::drain(*queue_);
}

} // namespace velm::test
