#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace velm {

// The smallest service written the house way; copy the pattern, not the type.
//
// - It owns a queue and touches its state only there; start() and stop() may
//   be called from anywhere and hop onto the queue.
// - Work it schedules on its queue holds the ticker weakly (whileAlive): a
//   ticker that is gone leaves behind at most one timer that then does nothing.
// - Each start() begins a new generation; ticks scheduled by an older start
//   see a different generation and stop there.
// - It reports through a setter, and its owner passes a callback that holds the
//   owner weakly, so the ticker never keeps its owner alive:
//
//       ticker->setOnTick(onQueueWhileAlive(queue, shared_from_this(), &Owner::handleTick));
class Ticker : public std::enable_shared_from_this<Ticker> {
public:
    using TickHandler = std::function<void(std::uint64_t count)>;

    static std::shared_ptr<Ticker> make(std::shared_ptr<Queue> queue) {
        return std::shared_ptr<Ticker>(new Ticker(std::move(queue)));
    }

    // Called on the ticker's queue with the number of ticks since the last start. Set before start.
    void setOnTick(TickHandler handler) { onTick_ = std::move(handler); }

    void start(Queue::Clock::duration interval) {
        queue_->post(whileAlive(weak_from_this(), [interval](Ticker& self) {
            self.interval_ = interval;
            self.count_ = 0;
            self.scheduleNext(++self.generation_);
        }));
    }

    void stop() {
        queue_->post(whileAlive(weak_from_this(), [](Ticker& self) { ++self.generation_; }));
    }

private:
    explicit Ticker(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

    void scheduleNext(std::uint64_t generation) {
        queue_->postAfter(interval_, whileAlive(weak_from_this(), [generation](Ticker& self) {
                              if (self.generation_ != generation) {
                                  return;
                              }
                              self.scheduleNext(generation);
                              if (self.onTick_) {
                                  self.onTick_(++self.count_);
                              }
                          }));
    }

    std::shared_ptr<Queue> queue_;
    TickHandler onTick_;
    // Touched only on queue_.
    std::uint64_t generation_ = 0;
    std::uint64_t count_ = 0;
    Queue::Clock::duration interval_{};
};

} // namespace velm
