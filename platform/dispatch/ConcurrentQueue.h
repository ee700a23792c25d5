#pragma once

#include "platform/dispatch/Queue.h"

#include <memory>
#include <string>

namespace velm {

// A queue for background work, which may block: each post runs on the
// background pool (IoPool::background) as soon as a thread is free, possibly
// in parallel with others and out of post order.
// isCurrent() is true inside work started by this queue.
class ConcurrentQueue final : public Queue, public std::enable_shared_from_this<ConcurrentQueue> {
public:
    static std::shared_ptr<ConcurrentQueue> make(std::string label);

    void post(std::function<void()> work) override;
    WorkItem postAfter(Clock::duration delay, std::function<void()> work) override;
    bool isCurrent() const override { return isMarkedCurrent(); }
    Clock::time_point now() const override;
    const std::string& label() const override { return label_; }

private:
    explicit ConcurrentQueue(std::string label);

    std::string label_;
};

} // namespace velm
