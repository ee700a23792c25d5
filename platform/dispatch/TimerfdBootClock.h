#pragma once

#include "platform/dispatch/BootClock.h"

namespace velm {

// The boot clock of Linux: each wait is a timer file (timerfd) on CLOCK_BOOTTIME, watched on the shared
// pool (IoPool::shared()), whose time counts the system's suspended time too. Cancelling a wait closes
// its timer file.
class TimerfdBootClock final : public BootClock {
public:
    WorkItem postAfter(std::shared_ptr<Queue> queue, std::chrono::nanoseconds delay,
                       std::function<void()> work) override;
};

} // namespace velm
