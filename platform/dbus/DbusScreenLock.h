#pragma once

#include "platform/dbus/BusConnection.h"
#include "platform/dbus/ScreenLock.h"
#include "platform/dispatch/Queue.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// The screen lock over D-Bus, asking each locker in turn until one confirms:
// - logind, on the system bus, for the session this process runs in (Session.Lock on
//   /org/freedesktop/login1/session/auto), confirmed by the session's LockedHint;
// - else the desktop's screensaver, on the session bus (org.freedesktop.ScreenSaver.Lock),
//   confirmed by GetActive.
// A locker that takes the request sets its sign only once its lock screen is up, so the sign is asked
// again a few times before the next locker is tried.
class DbusScreenLock final : public ScreenLock, public std::enable_shared_from_this<DbusScreenLock> {
public:
    struct Timing {
        std::chrono::milliseconds callTimeout{2000};
        std::chrono::milliseconds checkInterval{250};
        // How often each locker that took the request is asked whether the screen is locked.
        int checks = 8;
    };

    // Either bus may be null. Reports on `queue`.
    static std::shared_ptr<DbusScreenLock> make(std::shared_ptr<BusConnection> systemBus,
                                                std::shared_ptr<BusConnection> sessionBus,
                                                std::shared_ptr<Queue> queue, Timing timing);

    DbusScreenLock(const DbusScreenLock&) = delete;
    DbusScreenLock& operator=(const DbusScreenLock&) = delete;

    void lock(Done done) override;

private:
    // One lock, from locker to locker.
    struct Attempt {
        Done done;
        std::size_t locker = 0;
        bool accepted = false;
    };

    DbusScreenLock(std::shared_ptr<BusConnection> systemBus, std::shared_ptr<BusConnection> sessionBus,
                   std::shared_ptr<Queue> queue, Timing timing);

    void tryLocker(std::shared_ptr<Attempt> attempt);
    void lockAnswered(std::shared_ptr<Attempt> attempt, std::optional<std::string> error);
    void check(std::shared_ptr<Attempt> attempt, int checksLeft);
    void checked(std::shared_ptr<Attempt> attempt, int checksLeft, bool locked);
    void next(std::shared_ptr<Attempt> attempt);
    std::shared_ptr<BusConnection> busOf(std::size_t locker) const;

    const std::shared_ptr<BusConnection> systemBus_;
    const std::shared_ptr<BusConnection> sessionBus_;
    const std::shared_ptr<Queue> queue_;
    const Timing timing_;
};

} // namespace velm
