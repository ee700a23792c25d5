#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"

#include <chrono>
#include <functional>
#include <memory>

namespace velm {

// Waits measured on the time since boot, which goes on counting while the computer is suspended. A
// queue's own clock stands still then, so a wait of minutes on it could end hours after it was meant
// to; a wait on this clock ends at once on waking when its time passed during the sleep.
class BootClock {
public:
    virtual ~BootClock() = default;

    // Runs `work` on `queue` once `delay` has passed since this call, sleep included. A negative delay
    // counts as none. Once the returned item is cancelled, the work will not start.
    virtual WorkItem postAfter(std::shared_ptr<Queue> queue, std::chrono::nanoseconds delay,
                               std::function<void()> work) = 0;
};

} // namespace velm
