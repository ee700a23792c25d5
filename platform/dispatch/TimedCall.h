#pragma once

#include "platform/dispatch/Queue.h"

#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <functional>

namespace velm {

// Arms an asio steady timer for one call of a queue built on the pool.
// The timer lives on a strand and is only ever touched there: it is armed and
// cancelled through that strand, so callers on any thread are safe. Cancelling
// the returned item also cancels the timer, so long delays that are called off
// do not pile up in the context.
class TimedCall {
public:
    using Strand = asio::strand<asio::io_context::executor_type>;
    // Runs the work it is handed on the strand, e.g. through Queue::runWork.
    using Runner = std::function<void(const std::function<void()>& work)>;

    static WorkItem arm(const Strand& strand, Queue::Clock::time_point due, std::function<void()> work,
                        Runner runner);
};

} // namespace velm
