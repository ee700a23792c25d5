#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/dispatch/WorkItem.h"
#include "transport/channel/ControlChannel.h"

#include <functional>
#include <memory>
#include <utility>

namespace velm {

// What the client's one-shot requests share: a control channel of their own and exactly one result.
// The first finish() sets the flag, calls the time-out off, cancels the channel and then runs the
// completion; later ones do nothing, and neither do channel events after it. The request that owns
// this is touched on its queue only.
template <typename Result> class OneShot {
public:
    using Completion = std::function<void(Result)>;

    // The channel may be absent (no usable key): the request then fails as soon as it begins.
    explicit OneShot(std::shared_ptr<ControlChannel> channel) : channel_(std::move(channel)) {}

    const std::shared_ptr<ControlChannel>& channel() const { return channel_; }
    bool isFinished() const { return finished_; }

    void setCompletion(Completion completion) { completion_ = std::move(completion); }

    // Hands the channel's events to `handle` of the owner while it lives and the request runs.
    template <typename Owner>
    void listen(const std::shared_ptr<Owner>& owner, void (Owner::*handle)(const ControlChannel::Event&)) {
        channel_->setOnEvent(
            whileAlive(owner, [this, handle](Owner& self, const ControlChannel::Event& event) {
                if (!finished_) {
                    (self.*handle)(event);
                }
            }));
    }

    // Finishes with `result()` once `delay` has passed; the pending time-out holds the owner, so it
    // lives until its completion has run.
    template <typename Owner>
    void armTimeout(Queue& queue, Queue::Clock::duration delay, std::shared_ptr<Owner> owner,
                    std::function<Result()> result) {
        timeout_ = queue.postAfter(
            delay, [this, owner = std::move(owner), result = std::move(result)] { finish(result()); });
    }

    // A callable that sends `make(arguments...)` on the channel unless the request has finished by
    // then or its owner is gone (for a message built in the background, such as a signed hello).
    template <typename Owner, typename Make> auto sender(const std::shared_ptr<Owner>& owner, Make make) {
        return whileAlive(owner, [this, make = std::move(make)](Owner&, auto&&... arguments) {
            if (!finished_) {
                channel_->send(make(std::forward<decltype(arguments)>(arguments)...));
            }
        });
    }

    void finish(Result result) {
        if (finished_) {
            return;
        }
        finished_ = true;
        timeout_.cancel();
        if (channel_) {
            channel_->cancel();
        }
        if (auto completion = std::exchange(completion_, nullptr)) {
            completion(std::move(result));
        }
    }

private:
    const std::shared_ptr<ControlChannel> channel_;
    Completion completion_;
    WorkItem timeout_;
    bool finished_ = false;
};

} // namespace velm
