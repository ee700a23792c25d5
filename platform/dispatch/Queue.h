#pragma once

#include "platform/dispatch/WorkItem.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace velm {

// A named serial executor.
class Queue {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Queue() = default;

    virtual void post(std::function<void()> work) = 0;
    virtual WorkItem postAfter(Clock::duration delay, std::function<void()> work) = 0;
    // True on a thread currently running this queue's work.
    virtual bool isCurrent() const = 0;
    // Real or virtual time: the clock that postAfter uses.
    virtual Clock::time_point now() const = 0;
    virtual const std::string& label() const = 0;

    static std::shared_ptr<Queue> make(std::string label);
    static std::shared_ptr<Queue> global();
    static std::shared_ptr<Queue> main();
};

} // namespace velm
