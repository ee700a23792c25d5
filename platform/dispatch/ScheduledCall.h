#pragma once

#include <functional>
#include <mutex>
#include <optional>

namespace velm {

// The shared state behind a WorkItem: one piece of work that an executor will
// start later unless it is cancelled first. Claiming the work for a run and
// cancelling it are atomic with respect to each other, so once cancel() has
// returned the work can no longer start.
class ScheduledCall {
public:
    using Work = std::function<void()>;

    explicit ScheduledCall(Work work) : work_(std::move(work)) {}

    ScheduledCall(const ScheduledCall&) = delete;
    ScheduledCall& operator=(const ScheduledCall&) = delete;

    // Lets the executor drop its own bookkeeping (an armed timer, a queue
    // entry) early. Called at most once, outside any lock, by the first
    // cancel() that stops a call which had not started. Set it before the call
    // is shared with anyone.
    void setOnCancel(std::function<void()> hook);

    // Marks the call cancelled. When it had not started, the work (and what it
    // captured) is released on the calling thread and the hook runs.
    void cancel();
    bool isCancelled() const;

    // The executor's side: hands out the work exactly once, unless cancelled.
    std::optional<Work> take();

private:
    mutable std::mutex lock;
    bool cancelled_ = false;
    bool started_ = false;
    Work work_;
    std::function<void()> onCancel_;
};

} // namespace velm
