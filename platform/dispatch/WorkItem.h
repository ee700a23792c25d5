#pragma once

#include <memory>

namespace velm {

// A copyable handle to one scheduled call; default-constructed means nothing is scheduled.
class WorkItem {
public:
    WorkItem() = default;

    // Idempotent and thread-safe; the handler never runs after cancel() returns.
    void cancel() const;
    bool isCancelled() const;

    struct State;
    explicit WorkItem(std::shared_ptr<State> state) : state_(std::move(state)) {}
    const std::shared_ptr<State>& state() const { return state_; }

private:
    std::shared_ptr<State> state_;
};

} // namespace velm
