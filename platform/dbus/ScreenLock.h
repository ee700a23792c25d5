#pragma once

#include <functional>

namespace velm {

// Locks the desktop's screen, so that only the user's password opens it again.
class ScreenLock {
public:
    enum class Result {
        locked,      // a locker said the screen is locked
        unconfirmed, // a locker took the request but never said the screen is locked
        failed,      // no locker took the request
    };
    using Done = std::function<void(Result)>;

    virtual ~ScreenLock() = default;

    // Locks the screen now; `done` once, on the owner's queue, with how it went.
    virtual void lock(Done done) = 0;
};

} // namespace velm
