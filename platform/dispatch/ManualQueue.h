#pragma once

#include "platform/dispatch/Queue.h"

#include <cstddef>
#include <memory>
#include <string>

namespace velm {

// A serial queue on virtual time, for deterministic tests of time-outs,
// retries and tickers. Nothing runs until the test calls advance() or
// runUntilIdle(); work then runs on the test's thread in order of due time,
// work due at the same time in post order. Virtual time starts a day after
// the clock's epoch, so that earlier instants still look ordinary.
//
// Meant to be driven from one thread. Posting and cancelling from other
// threads is safe, but advance() and runUntilIdle() must not be called from
// its own work. Work still pending when the queue is destroyed is cancelled.
class ManualQueue final : public Queue {
public:
    // A run that keeps finding new work due after this many pieces without
    // virtual time moving on is taken to be work that reposts itself forever,
    // and is stopped with an error.
    static constexpr std::size_t runawayLimit = 1'000'000;

    explicit ManualQueue(std::string label = "manual");
    ~ManualQueue() override;

    void post(std::function<void()> work) override;
    WorkItem postAfter(Clock::duration delay, std::function<void()> work) override;
    bool isCurrent() const override { return isMarkedCurrent(); }
    Clock::time_point now() const override;
    const std::string& label() const override { return label_; }

    // Moves virtual time forward by `d`, running the work that comes due on
    // the way, each at its own due time; then leaves now() at the end of `d`.
    void advance(Clock::duration d);
    // Runs everything due by now(), including work posted meanwhile.
    void runUntilIdle();
    // Scheduled pieces of work that have not run and are not cancelled.
    std::size_t pendingCount() const;

private:
    struct Schedule;

    void runDueBy(Clock::time_point limit);

    std::string label_;
    std::shared_ptr<Schedule> schedule_;
};

} // namespace velm
