#include "platform/dispatch/ConcurrentQueue.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/TimedCall.h"

#include <asio/post.hpp>

namespace velm {

std::shared_ptr<ConcurrentQueue> ConcurrentQueue::make(std::string label) {
    return std::shared_ptr<ConcurrentQueue>(new ConcurrentQueue(std::move(label)));
}

ConcurrentQueue::ConcurrentQueue(std::string label) : label_(std::move(label)) {}

void ConcurrentQueue::post(std::function<void()> work) {
    asio::post(IoPool::background().context(),
               [self = shared_from_this(), work = std::move(work)] { self->runWork(work); });
}

WorkItem ConcurrentQueue::postAfter(Clock::duration delay, std::function<void()> work) {
    // Each delayed call gets a strand of its own: it only serialises the timer.
    return TimedCall::arm(
        asio::make_strand(IoPool::background().context()), deadline(now(), delay), std::move(work),
        [self = shared_from_this()](const std::function<void()>& due) { self->runWork(due); });
}

Queue::Clock::time_point ConcurrentQueue::now() const {
    return Clock::now();
}

} // namespace velm
