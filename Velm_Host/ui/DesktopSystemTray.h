#pragma once

#include "Velm_Host/ui/SystemTray.h"
#include "platform/dbus/BusConnection.h"
#include "platform/dispatch/Queue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace velm {

class StatusNotifierWatch;
class X11TraySelection;

// The trays of this desktop: a StatusNotifier tray on the session bus, or an XEmbed tray on the X
// display. Qt picks between the two once, when its first tray icon is made, and keeps to that pick: a
// tray counts only while Qt can show an icon in it too, and Qt is first asked only once a tray is there.
class DesktopSystemTray final : public SystemTray, public std::enable_shared_from_this<DesktopSystemTray> {
public:
    static constexpr std::chrono::milliseconds firstAnswerLimit{2000};

    // Reads both before returning. `sessionBus` may be null; reports on `mainQueue`.
    static std::shared_ptr<DesktopSystemTray> make(std::shared_ptr<BusConnection> sessionBus,
                                                   std::shared_ptr<Queue> mainQueue);

    bool isPresent() const override { return present_; }
    void setOnChange(std::function<void()> handler) override;

private:
    DesktopSystemTray(std::shared_ptr<StatusNotifierWatch> statusNotifier,
                      std::shared_ptr<X11TraySelection> xembed);

    void watch();
    bool read() const;
    void changed();

    const std::shared_ptr<StatusNotifierWatch> statusNotifier_;
    const std::shared_ptr<X11TraySelection> xembed_;
    bool present_ = false;
    std::function<void()> onChange_;
};

} // namespace velm
