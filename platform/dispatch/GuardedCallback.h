#pragma once

#include <mutex>
#include <utility>

namespace velm {

// A callback (a std::function) that one thread sets while another calls it: the call runs a copy
// taken under the lock, outside it, so the callback may call back into its service.
template <typename Callback> class GuardedCallback {
public:
    void set(Callback callback) {
        std::lock_guard guard(lock_);
        callback_ = std::move(callback);
    }

    // The callback as it is now, for a caller that acts differently when none is set.
    Callback get() const {
        std::lock_guard guard(lock_);
        return callback_;
    }

    template <typename... Arguments> void operator()(Arguments&&... arguments) const {
        if (const Callback current = get()) {
            current(std::forward<Arguments>(arguments)...);
        }
    }

private:
    mutable std::mutex lock_;
    Callback callback_;
};

} // namespace velm
