#pragma once

#include "platform/dispatch/WorkItem.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace velm {

// A named executor. Long-lived services own one and do all their work on it;
// most queues are serial: their work runs one piece at a time, in post order.
//
// Services report through stored `on…` callbacks. Such a callback captures its
// owner as a weak_ptr and does nothing once the owner is gone, and work a
// service schedules on its own queue captures the service weakly too, so that
// neither keeps the other alive. Services that can be restarted tag their
// scheduled work with a generation number and drop work from an older start.
// tests/support/Ticker.h shows the whole pattern in a few lines.
//
// Work that throws is logged (category "dispatch") and dropped; the queue and
// its threads carry on. Pending work keeps its queue alive until it has run.
class Queue {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Queue() = default;

    virtual void post(std::function<void()> work) = 0;
    // Like post, for work that carries on what the calling thread is about to finish
    // (a completion handing its result to the next stage): a pool thread runs it next
    // itself rather than waking another. Never for work the caller then waits for.
    virtual void defer(std::function<void()> work) { post(std::move(work)); }
    // Runs `work` once `delay` has passed on this queue's clock. A negative
    // delay counts as none; one beyond the clock's range ends at its last tick.
    virtual WorkItem postAfter(Clock::duration delay, std::function<void()> work) = 0;
    // True on a thread that is currently running this queue's work.
    virtual bool isCurrent() const = 0;
    // The clock postAfter measures against: real or virtual time.
    virtual Clock::time_point now() const = 0;
    virtual const std::string& label() const = 0;

    // A new serial queue: a strand on the process-wide pool of threads.
    static std::shared_ptr<Queue> make(std::string label);
    // The concurrent background queue: posts may run in parallel.
    static std::shared_ptr<Queue> global();
    // The queue of the user interface. A plain serial queue until the
    // application installs one backed by its event loop.
    static std::shared_ptr<Queue> main();
    // Installs the main queue; an empty pointer brings back a plain one.
    static void setMain(std::shared_ptr<Queue> queue);

    // Runs `work` (nothing when empty). What it throws goes no further than a log line (category
    // "dispatch") naming `where`: one piece of work that fails must not end the thread that serves
    // others. Queues run their work so, and so do threads that serve tasks of their own.
    static void runLogged(const std::function<void()>& work, const char* where);

protected:
    // Runs one piece of this queue's work: marks the thread as running this
    // queue (see isMarkedCurrent) and logs what the work throws.
    void runWork(const std::function<void()>& work) const;
    // True while runWork of this queue is on the calling thread's stack.
    bool isMarkedCurrent() const;
    // `now + delay`, with negative delays as zero and saturated at the end of time.
    static Clock::time_point deadline(Clock::time_point now, Clock::duration delay);
};

} // namespace velm
