#pragma once

#include "platform/dispatch/Queue.h"

#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <memory>
#include <string>

namespace velm {

// A serial queue: a strand on the shared pool (IoPool). Work runs one piece at
// a time, in post order, on whichever pool thread is free.
class StrandQueue final : public Queue, public std::enable_shared_from_this<StrandQueue> {
public:
    using Strand = asio::strand<asio::io_context::executor_type>;

    static std::shared_ptr<StrandQueue> make(std::string label);

    void post(std::function<void()> work) override;
    void defer(std::function<void()> work) override;
    WorkItem postAfter(Clock::duration delay, std::function<void()> work) override;
    bool isCurrent() const override;
    Clock::time_point now() const override;
    const std::string& label() const override { return label_; }

    // For asio objects whose handlers belong on this queue (sockets, timers,
    // coroutines): give them this executor.
    const Strand& strand() const { return strand_; }

private:
    StrandQueue(std::string label, Strand strand);

    std::string label_;
    Strand strand_;
};

} // namespace velm
