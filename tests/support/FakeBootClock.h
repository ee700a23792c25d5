#pragma once

#include "platform/dispatch/BootClock.h"
#include "platform/dispatch/ScheduledCall.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace velm::test {

// A boot clock on the virtual time of the queues it is handed (ManualQueue) plus the time the computer
// slept, which `suspend` adds: the queues' own clocks stand still across such a gap, as a steady clock
// does, while waits on this clock come due. Meant to be driven from the test's thread.
class FakeBootClock final : public BootClock {
public:
    WorkItem postAfter(std::shared_ptr<Queue> queue, std::chrono::nanoseconds delay,
                       std::function<void()> work) override {
        auto call = std::make_shared<ScheduledCall>(std::move(work));
        Wait wait{queue, queue->now() + slept_ + std::max(delay, std::chrono::nanoseconds(0)), call, {}};
        arm(wait, queue);
        waits_.push_back(std::move(wait));
        return WorkItem(std::move(call));
    }

    // The computer sleeps for `gap` and wakes: what came due meanwhile runs at its queue's next run.
    void suspend(std::chrono::nanoseconds gap) {
        slept_ += gap;
        std::erase_if(waits_, [](const Wait& wait) {
            const auto call = wait.call.lock();
            return !call || call->isCancelled() || wait.queue.expired();
        });
        for (Wait& wait : waits_) {
            wait.armed.cancel();
            arm(wait, wait.queue.lock());
        }
    }

private:
    struct Wait {
        std::weak_ptr<Queue> queue;
        // On the queue's clock with the time slept added.
        Queue::Clock::time_point due;
        // Held by the caller's item and the armed work only.
        std::weak_ptr<ScheduledCall> call;
        WorkItem armed;
    };

    void arm(Wait& wait, const std::shared_ptr<Queue>& queue) {
        const auto call = wait.call.lock();
        if (!call || !queue) {
            return;
        }
        wait.armed = queue->postAfter(wait.due - (queue->now() + slept_), [call] {
            if (auto work = call->take()) {
                (*work)();
            }
        });
    }

    std::chrono::nanoseconds slept_{0};
    std::vector<Wait> waits_;
};

} // namespace velm::test
