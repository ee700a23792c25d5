#include "Velm_Host/ui/DesktopSystemTray.h"

#include "platform/dbus/StatusNotifierWatch.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/x11/X11TraySelection.h"

#include <QSystemTrayIcon>

namespace velm {

std::shared_ptr<DesktopSystemTray> DesktopSystemTray::make(std::shared_ptr<BusConnection> sessionBus,
                                                           std::shared_ptr<Queue> mainQueue) {
    auto statusNotifier = StatusNotifierWatch::make(std::move(sessionBus), mainQueue);
    auto xembed = X11TraySelection::make(mainQueue);
    auto tray = std::shared_ptr<DesktopSystemTray>(
        new DesktopSystemTray(std::move(statusNotifier), std::move(xembed)));
    tray->watch();
    return tray;
}

DesktopSystemTray::DesktopSystemTray(std::shared_ptr<StatusNotifierWatch> statusNotifier,
                                     std::shared_ptr<X11TraySelection> xembed)
    : statusNotifier_(std::move(statusNotifier)), xembed_(std::move(xembed)) {}

void DesktopSystemTray::setOnChange(std::function<void()> handler) {
    onChange_ = std::move(handler);
}

void DesktopSystemTray::watch() {
    const auto self = shared_from_this();
    statusNotifier_->setOnChange(whileAlive(self, &DesktopSystemTray::changed));
    xembed_->setOnChange(whileAlive(self, &DesktopSystemTray::changed));
    statusNotifier_->start(firstAnswerLimit);
    present_ = read();
}

// Qt's own look at the trays comes last: its first answer is the one it keeps.
bool DesktopSystemTray::read() const {
    return (statusNotifier_->isPresent() || xembed_->isOwned()) && QSystemTrayIcon::isSystemTrayAvailable();
}

void DesktopSystemTray::changed() {
    const bool present = read();
    if (present == present_) {
        return;
    }
    present_ = present;
    if (onChange_) {
        onChange_();
    }
}

} // namespace velm
