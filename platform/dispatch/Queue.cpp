// Stand-in serial queues on the network context until the shared executors land.
#include "platform/dispatch/Queue.h"

#include "platform/net/IoContext.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <mutex>

namespace velm {

struct WorkItem::State {
    std::mutex lock;
    bool cancelled = false;
};

void WorkItem::cancel() const
{
    if (!state_) {
        return;
    }
    std::lock_guard guard(state_->lock);
    state_->cancelled = true;
}

bool WorkItem::isCancelled() const
{
    if (!state_) {
        return false;
    }
    std::lock_guard guard(state_->lock);
    return state_->cancelled;
}

namespace {

class StrandQueue : public Queue, public std::enable_shared_from_this<StrandQueue> {
public:
    explicit StrandQueue(std::string label) : label_(std::move(label)), strand_(asio::make_strand(ioContext())) {}

    void post(std::function<void()> work) override
    {
        asio::post(strand_, [self = shared_from_this(), work = std::move(work)] { work(); });
    }

    WorkItem postAfter(Clock::duration delay, std::function<void()> work) override
    {
        auto state = std::make_shared<WorkItem::State>();
        auto timer = std::make_shared<asio::steady_timer>(strand_, delay);
        timer->async_wait([self = shared_from_this(), timer, state, work = std::move(work)](std::error_code) {
            std::lock_guard guard(state->lock);
            if (!state->cancelled) {
                work();
            }
        });
        return WorkItem(state);
    }

    bool isCurrent() const override { return strand_.running_in_this_thread(); }
    Clock::time_point now() const override { return Clock::now(); }
    const std::string& label() const override { return label_; }

private:
    std::string label_;
    asio::strand<asio::io_context::executor_type> strand_;
};

} // namespace

std::shared_ptr<Queue> Queue::make(std::string label) { return std::make_shared<StrandQueue>(std::move(label)); }

std::shared_ptr<Queue> Queue::global()
{
    static const auto queue = make("global");
    return queue;
}

std::shared_ptr<Queue> Queue::main()
{
    static const auto queue = make("main");
    return queue;
}

} // namespace velm
