#pragma once

#include <functional>
#include <mutex>

namespace velm {

// A callback that one thread sets while another calls it: the call runs a copy taken under the lock,
// outside it, so the callback may call back into its service.
class GuardedCallback {
public:
    void set(std::function<void()> callback) {
        std::lock_guard guard(lock_);
        callback_ = std::move(callback);
    }

    void operator()() const {
        std::function<void()> current;
        {
            std::lock_guard guard(lock_);
            current = callback_;
        }
        if (current) {
            current();
        }
    }

private:
    mutable std::mutex lock_;
    std::function<void()> callback_;
};

} // namespace velm
