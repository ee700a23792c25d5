#pragma once

#include "platform/dispatch/Queue.h"
#include "tests/support/EventLog.h"
#include "transport/channel/ControlChannel.h"

#include <memory>
#include <optional>
#include <vector>

namespace velm::test {

// Records every event of a control channel, which it starts on a queue of its own, and lets a
// test wait for them.
class ChannelProbe {
public:
    using Event = ControlChannel::Event;
    using CloseReason = ControlChannel::CloseReason;

    explicit ChannelProbe(std::shared_ptr<ControlChannel> channel);

    ControlChannel& channel() { return *channel_; }
    const std::shared_ptr<Queue>& queue() const { return queue_; }
    // Lets go of the channel; the events it still delivers are recorded.
    void release() { channel_.reset(); }

    void start() { channel_->start(queue_); }
    bool waitForReady();
    bool waitForClose();
    // Waits for this many events other than ready and closed.
    bool waitForMessages(std::size_t count);
    // Waits until the queue has run everything posted to it so far.
    bool settle();

    std::vector<Event> events() const { return events_->values(); }
    // The events other than ready and closed.
    std::vector<Event> messages() const;
    std::optional<CloseReason> closeReason() const;
    std::size_t closeCount() const;

private:
    std::shared_ptr<ControlChannel> channel_;
    std::shared_ptr<Queue> queue_ = Queue::make("channel probe");
    std::shared_ptr<EventLog<Event>> events_ = std::make_shared<EventLog<Event>>();
};

} // namespace velm::test
