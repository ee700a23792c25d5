#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/net/TlsListener.h"
#include "tests/support/EventLog.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/files/FileReceiver.h"
#include "transport/files/FileSender.h"
#include "transport/keys/PreSharedKey.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velm::test {

// The host's end of the client request classes, scripted: a listener on loopback that admits the
// given keys and wraps every accepted connection in a control channel, started on the host's one
// serial queue. Each event of each connection goes to the script, which answers as a test wants.
// Every control message and file chunk the host receives is recorded.
class ScriptedHost {
public:
    using Event = ControlChannel::Event;

    // One accepted connection and what a script may keep for it.
    struct Connection {
        std::shared_ptr<ControlChannel> channel;
        std::unique_ptr<FileReceiver> receiver;
        std::shared_ptr<FileSender> sender;
    };
    using Script = std::function<void(Connection& connection, const Event& event)>;

    // A script that hands each control message to `answer` and ignores every other event.
    static Script
    answering(std::function<void(Connection& connection, const ControlMessage& message)> answer) {
        return [answer = std::move(answer)](Connection& connection, const Event& event) {
            if (const auto* control = event.get<Event::Control>()) {
                answer(connection, control->message);
            }
        };
    }

    ScriptedHost(const std::vector<PreSharedKey>& keys, Script script);
    // Cancels every connection and waits until each has closed.
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", listener_->port()); }
    const std::shared_ptr<Queue>& queue() const { return queue_; }

    std::vector<ControlMessage> received() const { return state_->messages.values(); }
    bool waitForReceived(std::size_t count) { return state_->messages.waitForCount(count); }
    // The sizes of the file-channel payloads received, in order.
    std::vector<std::size_t> fileChunkSizes() const { return state_->chunks.values(); }
    bool waitForClosed(std::size_t count) { return state_->closed.waitForCount(count); }

private:
    struct State {
        Script script;
        std::mutex lock;
        std::vector<std::shared_ptr<Connection>> connections;
        EventLog<ControlMessage> messages;
        EventLog<std::size_t> chunks;
        EventLog<ControlChannel::CloseReason> closed;
    };

    std::shared_ptr<Queue> queue_ = Queue::make("scripted host");
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::shared_ptr<TlsListener> listener_;
};

} // namespace velm::test
