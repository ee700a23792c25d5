#pragma once

#include "platform/dbus/BusConnection.h"
#include "platform/dbus/Notifications.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace velm {

// Notices through the desktop's notification server (org.freedesktop.Notifications on the session bus).
//
// Buttons and closings are signals anyone on the bus could send; only those sent by the server that
// showed our notices, and only for notices this object showed, are reported. Without a bus nothing is
// shown and the check finds no server.
class DbusNotifications final : public Notifications, public std::enable_shared_from_this<DbusNotifications> {
public:
    static constexpr std::chrono::milliseconds callTimeout{5000};
    // The server's list of capabilities is read this far.
    static constexpr std::size_t maxCapabilities = 64;

    // `bus` may be null. Reports on `queue`; `appName` is how the desktop names the sender.
    static std::shared_ptr<DbusNotifications> make(std::shared_ptr<BusConnection> bus,
                                                   std::shared_ptr<Queue> queue, std::string appName);

    DbusNotifications(const DbusNotifications&) = delete;
    DbusNotifications& operator=(const DbusNotifications&) = delete;

    void setOnAction(ActionHandler handler) override;
    void setOnClosed(ClosedHandler handler) override;
    void show(Notice notice, Shown shown) override;
    void close(std::uint32_t id) override;
    void checkSupport(std::function<void(Check)> answer) override;

private:
    struct BusSide;

    DbusNotifications(std::shared_ptr<BusConnection> bus, std::shared_ptr<Queue> queue, std::string appName);

    void watch();
    void actionInvoked(std::uint32_t id, std::string actionKey);
    void notificationClosed(std::uint32_t id);

    const std::shared_ptr<BusConnection> bus_;
    const std::shared_ptr<Queue> queue_;
    const std::string appName_;
    // Touched on the bus thread only.
    const std::shared_ptr<BusSide> busSide_;

    GuardedCallback<ActionHandler> onAction_;
    GuardedCallback<ClosedHandler> onClosed_;
};

} // namespace velm
