#pragma once

#include "platform/dbus/BusConnection.h"
#include "platform/dispatch/Queue.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velm {

// Tells its owner that the system is about to power off or restart, early enough to say goodbye:
// logind's PrepareForShutdown signal on the system bus, while a "delay" inhibitor lock holds the
// shutdown back until release() (or logind's own delay limit). Without a system bus or logind
// nothing is reported, and the system goes down without waiting.
//
// Signals count only from the current owner of logind's name; a logind that comes anew (restarted,
// or back after a crash) is asked for a lock of its own. A lost bus connection lets the lock go.
class PowerOffWatcher : public std::enable_shared_from_this<PowerOffWatcher> {
public:
    static constexpr std::chrono::milliseconds callTimeout{5000};

    // $DBUS_SYSTEM_BUS_ADDRESS, else the standard socket; nothing when it cannot be reached (logged).
    static std::shared_ptr<BusConnection> systemBus();

    // `bus` may be null. Reports on `queue`; `who` names the program in logind's list of locks.
    static std::shared_ptr<PowerOffWatcher> make(std::shared_ptr<BusConnection> bus,
                                                 std::shared_ptr<Queue> queue, std::string who);

    PowerOffWatcher(const PowerOffWatcher&) = delete;
    PowerOffWatcher& operator=(const PowerOffWatcher&) = delete;

    // The system is going down; call release() once ready.
    void setOnPowerOff(std::function<void()> handler);
    // Takes the delay lock and watches for the signal.
    void start();
    // Lets the shutdown go on. A shutdown that is called off takes the lock again.
    void release();

private:
    struct BusSide;

    PowerOffWatcher(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue, std::string who);

    void powerOff();

    const std::shared_ptr<BusConnection> bus_;
    const std::shared_ptr<Queue> queue_;
    // Touched on the bus thread only.
    const std::shared_ptr<BusSide> busSide_;

    std::mutex lock;
    std::function<void()> onPowerOff_;
};

} // namespace velm
