#pragma once

#include "Velm_Host/session/HostNotice.h"
#include "Velm_Host/session/SessionContext.h"
#include "protocol/ByeReason.h"
#include "protocol/ConnectionRecord.h"
#include "transport/channel/ControlChannel.h"

#include <functional>
#include <memory>
#include <optional>

namespace velm {

class Queue;

// What a connection becomes once its first message let it in: a one-shot answer or the main session.
// The session hands it the channel, whose events then go to the stage straight, and stops it once, at
// its end. Everything runs on the session's queue.
class SessionStage {
public:
    // What every stage works with, and what it may ask of the session that runs it.
    struct Setup {
        std::shared_ptr<ControlChannel> channel;
        std::shared_ptr<const SessionContext> context;
        std::shared_ptr<Queue> queue;
        // Ends the session, once, with a goodbye when there is a reason.
        std::function<void(ConnectionRecord::Ending, std::optional<ByeReason>)> end;
        std::function<void(HostNotice)> notice;
        // Opens the connection's record in the history; the session closes it at its end.
        std::function<void(ConnectionRecord::Kind)> beginRecord;
        // The rules of every stage, which the session keeps: a goodbye ends the session, and so does a
        // second opening message. True when the message was one of those.
        std::function<bool(const ControlMessage&)> sessionTakes;
    };

    virtual ~SessionStage() = default;

    // Every event of the channel after the opening message; nothing once stopped.
    virtual void receive(const ControlChannel::Event& event) = 0;
    // Stops every part the stage started; nothing is sent or reported afterwards.
    virtual void stop() = 0;
};

} // namespace velm
