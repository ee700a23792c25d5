#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velm {

// A one-way gate between threads: closed until open() is called, after which
// every wait passes. Tests use it to hold a queue's work at a known point.
class Gate {
public:
    static constexpr std::chrono::seconds defaultLimit{10};

    // Notifies under the lock: a waiter that then destroys the gate cannot do
    // so before open() is done with it.
    void open() {
        std::lock_guard guard(lock);
        isOpen_ = true;
        opened_.notify_all();
    }

    // Returns false when the gate stayed closed for `limit`.
    bool wait(std::chrono::milliseconds limit = defaultLimit) {
        std::unique_lock guard(lock);
        return opened_.wait_for(guard, limit, [this] { return isOpen_; });
    }

private:
    std::mutex lock;
    std::condition_variable opened_;
    bool isOpen_ = false;
};

} // namespace velm
