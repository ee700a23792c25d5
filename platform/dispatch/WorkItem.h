#pragma once

#include <memory>

namespace velm {

class ScheduledCall;

// A copyable handle to one call scheduled with Queue::postAfter. A
// default-constructed item stands for nothing scheduled.
//
// cancel() is idempotent and may be called from any thread, including from
// work running on the queue itself. Once it returns, the call will not start,
// even if its time has already come and it is waiting behind other work.
// A call that has already started cannot be stopped: it runs to its end while
// cancel() returns at once (it never waits for the call, so it cannot deadlock).
// Cancelling releases the work, and whatever it captured, on the calling thread.
class WorkItem {
public:
    WorkItem() = default;
    explicit WorkItem(std::shared_ptr<ScheduledCall> call);

    void cancel() const;
    // True once cancel() has been called, whether or not the call had run.
    bool isCancelled() const;

private:
    std::shared_ptr<ScheduledCall> call_;
};

} // namespace velm
