#pragma once

#include "platform/dbus/BusConnection.h"
#include "platform/dispatch/Queue.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace velm {

// Whether a StatusNotifier tray shows icons on the session bus: the watcher of the freedesktop.org
// StatusNotifier items ("org.kde.StatusNotifierWatcher", which KDE, GNOME's AppIndicator extension and
// most panels run) owns its name and says that a host drawing the icons registered with it. A panel
// started after this program, or started again, is heard of as it comes and goes; a lost bus connection
// takes the tray with it.
//
// Only the watcher that owns the name counts: its signals from anyone else are passed over.
class StatusNotifierWatch : public std::enable_shared_from_this<StatusNotifierWatch> {
public:
    static constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
    static constexpr std::chrono::milliseconds callTimeout{2000};

    // `bus` may be null: then there is never a tray. Reports on `queue`.
    static std::shared_ptr<StatusNotifierWatch> make(std::shared_ptr<BusConnection> bus,
                                                     std::shared_ptr<Queue> queue);

    StatusNotifierWatch(const StatusNotifierWatch&) = delete;
    StatusNotifierWatch& operator=(const StatusNotifierWatch&) = delete;

    // Called on the queue after each change of isPresent().
    void setOnChange(std::function<void()> handler);
    // Asks the bus and watches from then on; waits at most `firstAnswer` for the bus's first answer, so
    // that a tray already there counts from the start. Call once.
    void start(std::chrono::milliseconds firstAnswer);
    // As last heard; safe from any thread.
    bool isPresent() const;

private:
    struct BusSide;

    StatusNotifierWatch(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue);

    // On the bus thread, whenever the bus side learnt something.
    void heard(bool present);

    const std::shared_ptr<BusConnection> bus_;
    const std::shared_ptr<Queue> queue_;
    // Touched on the bus thread only.
    const std::shared_ptr<BusSide> busSide_;

    mutable std::mutex lock;
    std::condition_variable answered_;
    bool hasAnswer_ = false;
    bool present_ = false;
    std::function<void()> onChange_;
};

} // namespace velm
