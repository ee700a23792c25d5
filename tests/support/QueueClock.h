#pragma once

#include "platform/core/Date.h"
#include "platform/dispatch/ManualQueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace velm::test {

// A wall clock that moves with a ManualQueue's virtual time, so that dates a service stamps and
// the timers it arms on that queue agree.
inline std::function<Date()> queueClock(std::shared_ptr<ManualQueue> queue, Date start = Date(700'000'000)) {
    const auto origin = queue->now();
    return [queue = std::weak_ptr<ManualQueue>(queue), origin, start] {
        const auto current = queue.lock();
        const auto elapsed = current ? current->now() - origin : ManualQueue::Clock::duration::zero();
        return Date(start.secondsSinceReferenceDate() + std::chrono::duration<double>(elapsed).count());
    };
}

} // namespace velm::test
