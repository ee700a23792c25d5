#include "platform/dispatch/TimedCall.h"

#include "platform/dispatch/ScheduledCall.h"

#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <memory>

namespace velm {

WorkItem TimedCall::arm(const Strand& strand, Queue::Clock::time_point due, std::function<void()> work,
                        Runner runner) {
    auto call = std::make_shared<ScheduledCall>(std::move(work));
    auto timer = std::make_shared<asio::steady_timer>(strand);
    call->setOnCancel([timer] { asio::post(timer->get_executor(), [timer] { timer->cancel(); }); });
    // The wait's handler holds the timer and the call until it has run or been
    // aborted; the call holds the timer only until it is taken or cancelled.
    asio::dispatch(strand, [timer, call, due, runner = std::move(runner)]() mutable {
        timer->expires_at(due);
        timer->async_wait([timer, call, runner = std::move(runner)](const std::error_code&) {
            // A cancelled call is not handed out, whatever the timer reports.
            if (auto taken = call->take()) {
                runner(*taken);
            }
        });
    });
    return WorkItem(std::move(call));
}

} // namespace velm
