#include "platform/dispatch/ManualQueue.h"

#include "platform/dispatch/ScheduledCall.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace velm {

// The pending work, shared with the cancel hooks of the items handed out so
// that cancelling after the queue is gone is harmless.
struct ManualQueue::Schedule {
    using Key = std::pair<Clock::time_point, std::uint64_t>; // due time, then post order

    std::mutex lock;
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(24);
    std::uint64_t nextSequence = 0;
    std::map<Key, std::shared_ptr<ScheduledCall>> calls;
};

ManualQueue::ManualQueue(std::string label)
    : label_(std::move(label)), schedule_(std::make_shared<Schedule>()) {}

ManualQueue::~ManualQueue() {
    decltype(Schedule::calls) orphans;
    {
        std::lock_guard guard(schedule_->lock);
        orphans.swap(schedule_->calls);
    }
    for (auto& [key, call] : orphans) {
        call->cancel();
    }
}

void ManualQueue::post(std::function<void()> work) {
    postAfter(Clock::duration::zero(), std::move(work));
}

WorkItem ManualQueue::postAfter(Clock::duration delay, std::function<void()> work) {
    auto call = std::make_shared<ScheduledCall>(std::move(work));
    std::lock_guard guard(schedule_->lock);
    const Schedule::Key key{deadline(schedule_->now, delay), schedule_->nextSequence++};
    call->setOnCancel([weakSchedule = std::weak_ptr<Schedule>(schedule_), key] {
        if (auto schedule = weakSchedule.lock()) {
            std::lock_guard scheduleGuard(schedule->lock);
            schedule->calls.erase(key);
        }
    });
    schedule_->calls.emplace(key, call);
    return WorkItem(std::move(call));
}

Queue::Clock::time_point ManualQueue::now() const {
    std::lock_guard guard(schedule_->lock);
    return schedule_->now;
}

void ManualQueue::advance(Clock::duration d) {
    const auto target = deadline(now(), d);
    runDueBy(target);
    std::lock_guard guard(schedule_->lock);
    schedule_->now = std::max(schedule_->now, target);
}

void ManualQueue::runUntilIdle() {
    runDueBy(now());
}

std::size_t ManualQueue::pendingCount() const {
    std::lock_guard guard(schedule_->lock);
    return schedule_->calls.size();
}

void ManualQueue::runDueBy(Clock::time_point limit) {
    if (isCurrent()) {
        throw std::logic_error("manual queue driven from its own work");
    }
    // Pieces run since virtual time last moved on.
    std::size_t ranAtThisTime = 0;
    for (;; ++ranAtThisTime) {
        std::shared_ptr<ScheduledCall> call;
        {
            std::lock_guard guard(schedule_->lock);
            auto first = schedule_->calls.begin();
            if (first == schedule_->calls.end() || first->first.first > limit) {
                return;
            }
            if (first->first.first > schedule_->now) {
                ranAtThisTime = 0;
            } else if (ranAtThisTime == runawayLimit) {
                throw std::runtime_error("manual queue " + label_ + " never became idle");
            }
            schedule_->now = std::max(schedule_->now, first->first.first);
            call = std::move(first->second);
            schedule_->calls.erase(first);
        }
        if (auto work = call->take()) {
            runWork(*work);
        }
    }
}

} // namespace velm
