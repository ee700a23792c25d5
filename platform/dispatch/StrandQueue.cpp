#include "platform/dispatch/StrandQueue.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/TimedCall.h"

#include <asio/defer.hpp>
#include <asio/post.hpp>

namespace velm {

std::shared_ptr<StrandQueue> StrandQueue::make(std::string label) {
    return std::shared_ptr<StrandQueue>(
        new StrandQueue(std::move(label), asio::make_strand(IoPool::shared().context())));
}

StrandQueue::StrandQueue(std::string label, Strand strand)
    : label_(std::move(label)), strand_(std::move(strand)) {}

void StrandQueue::post(std::function<void()> work) {
    asio::post(strand_, [self = shared_from_this(), work = std::move(work)] { self->runWork(work); });
}

void StrandQueue::defer(std::function<void()> work) {
    asio::defer(strand_, [self = shared_from_this(), work = std::move(work)] { self->runWork(work); });
}

WorkItem StrandQueue::postAfter(Clock::duration delay, std::function<void()> work) {
    return TimedCall::arm(
        strand_, deadline(now(), delay), std::move(work),
        [self = shared_from_this()](const std::function<void()>& due) { self->runWork(due); });
}

bool StrandQueue::isCurrent() const {
    return strand_.running_in_this_thread();
}

Queue::Clock::time_point StrandQueue::now() const {
    return Clock::now();
}

} // namespace velm
