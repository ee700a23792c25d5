#pragma once

#include "platform/dispatch/Queue.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace velm {

// The smallest service written the house way; copy the pattern, not the type.
//
// - It owns a queue and touches its state only there; start() and stop() may
//   be called from anywhere and hop onto the queue.
// - Work it schedules on its queue holds the ticker weakly: a ticker that is
//   gone leaves behind at most one timer that then does nothing.
// - Each start() begins a new generation; ticks scheduled by an older start
//   see a different generation and stop there.
// - Its owner sets onTick before start() with a callback that captures the
//   owner weakly, so the ticker never keeps its owner alive:
//
//       ticker->onTick = [weak = weak_from_this()](std::uint64_t count) {
//           if (auto self = weak.lock()) {
//               self->queue->post([self, count] { self->handleTick(count); });
//           }
//       };
class Ticker : public std::enable_shared_from_this<Ticker> {
public:
    // Called on the ticker's queue with the number of ticks since the last start.
    std::function<void(std::uint64_t count)> onTick;

    static std::shared_ptr<Ticker> make(std::shared_ptr<Queue> queue) {
        return std::shared_ptr<Ticker>(new Ticker(std::move(queue)));
    }

    void start(Queue::Clock::duration interval) {
        queue_->post([weak = weak_from_this(), interval] {
            if (auto self = weak.lock()) {
                self->interval_ = interval;
                self->count_ = 0;
                self->scheduleNext(++self->generation_);
            }
        });
    }

    void stop() {
        queue_->post([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                ++self->generation_;
            }
        });
    }

private:
    explicit Ticker(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

    void scheduleNext(std::uint64_t generation) {
        queue_->postAfter(interval_, [weak = weak_from_this(), generation] {
            if (auto self = weak.lock(); self && self->generation_ == generation) {
                self->scheduleNext(generation);
                if (self->onTick) {
                    self->onTick(++self->count_);
                }
            }
        });
    }

    std::shared_ptr<Queue> queue_;
    // Touched only on queue_.
    std::uint64_t generation_ = 0;
    std::uint64_t count_ = 0;
    Queue::Clock::duration interval_{};
};

} // namespace velm
