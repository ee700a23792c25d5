#include "platform/dispatch/Queue.h"

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/StrandQueue.h"
#include "platform/log/Log.h"

#include <exception>
#include <mutex>
#include <utility>

namespace velm {
namespace {

thread_local const Queue* runningQueue = nullptr;

// The shared queues live until the process ends and are never destroyed, so
// that work still running during exit can reach them.
struct MainSlot {
    std::mutex lock;
    std::shared_ptr<Queue> queue;
};

MainSlot& mainSlot() {
    static auto* slot = new MainSlot();
    return *slot;
}

std::shared_ptr<Queue> plainMain() {
    return Queue::make("velm.main");
}

} // namespace

std::shared_ptr<Queue> Queue::make(std::string label) {
    return StrandQueue::make(std::move(label));
}

std::shared_ptr<Queue> Queue::global() {
    static auto* queue = new std::shared_ptr<Queue>(ConcurrentQueue::make("velm.global"));
    return *queue;
}

std::shared_ptr<Queue> Queue::main() {
    auto& slot = mainSlot();
    std::lock_guard guard(slot.lock);
    if (!slot.queue) {
        slot.queue = plainMain();
    }
    return slot.queue;
}

void Queue::setMain(std::shared_ptr<Queue> queue) {
    auto& slot = mainSlot();
    if (!queue) {
        queue = plainMain();
    }
    std::lock_guard guard(slot.lock);
    std::swap(slot.queue, queue);
    // The previous queue is released here, outside the lock.
}

void Queue::runWork(const std::function<void()>& work) const {
    const Queue* outer = std::exchange(runningQueue, this);
    runLogged(work, label().c_str());
    runningQueue = outer;
}

void Queue::runLogged(const std::function<void()>& work, const char* where) {
    try {
        if (work) {
            work();
        }
    } catch (const std::exception& error) {
        Log("dispatch").error("work on %s threw: %s", where, error.what());
    } catch (...) {
        Log("dispatch").error("work on %s threw a non-standard exception", where);
    }
}

bool Queue::isMarkedCurrent() const {
    return runningQueue == this;
}

Queue::Clock::time_point Queue::deadline(Clock::time_point now, Clock::duration delay) {
    if (delay <= Clock::duration::zero()) {
        return now;
    }
    const auto sinceEpoch = now.time_since_epoch();
    const auto room =
        sinceEpoch < Clock::duration::zero() ? Clock::duration::max() : Clock::duration::max() - sinceEpoch;
    if (delay >= room) {
        return Clock::time_point::max();
    }
    return now + delay;
}

} // namespace velm
