#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace velm::test {

// Collects values reported from other threads and lets a test wait for a condition on
// them. The wait bound only keeps a broken test from hanging; it is not a timing check.
template <typename T> class EventLog {
public:
    static constexpr std::chrono::seconds patience{20};

    void push(T value) {
        // Notified under the lock: a waiter that sees the value may destroy the log at once.
        std::lock_guard guard(lock_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }

    bool waitFor(const std::function<bool(const std::vector<T>&)>& condition) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, patience, [&] { return condition(values_); });
    }

    bool waitForCount(std::size_t count) {
        return waitFor([count](const std::vector<T>& values) { return values.size() >= count; });
    }

    std::vector<T> values() const {
        std::lock_guard guard(lock_);
        return values_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

} // namespace velm::test
