#include "Velm_Host/ui/HostMachine.h"

#include "Velm_Host/away/AwayAccess.h"
#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/curtain/DesktopCurtain.h"
#include "Velm_Host/ui/AttachedScreen.h"
#include "Velm_Host/ui/DesktopSystemTray.h"
#include "Velm_Host/ui/DeviceIcons.h"
#include "Velm_Host/x11/X11Curtain.h"
#include "Velm_Host/x11/X11HostDesktop.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/dbus/PowerOffWatcher.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "platform/net/ComputerName.h"
#include "platform/store/GenericPasswordStore.h"
#include "platform/store/XdgDirs.h"
#include "platform/x11/X11DesktopAccess.h"
#include "platform/x11/X11ScreenList.h"

#include <cstdlib>

namespace velm {
namespace {

SessionDesktop::DeviceImage deviceImages(const std::vector<Monitor>& monitors) {
    std::vector<AttachedScreen> screens;
    for (const Monitor& monitor : monitors) {
        screens.push_back(
            {.vendor = monitor.vendor ? std::optional<std::uint32_t>(*monitor.vendor) : std::nullopt,
             .name = monitor.name});
    }
    return {.image = hostIconPNG(), .display = hostDisplayIconPNG(screens)};
}

} // namespace

DisplaySession HostMachine::displayOfThisComputer() {
    auto display = DisplaySession::fromEnvironment(std::getenv);
    if (display.hasDisplay && !X11DesktopAccess::isReachable()) {
        display.hasDisplay = false;
        display.isGone = true;
    }
    return display;
}

HostMachine HostMachine::ofThisComputer(const DisplaySession& display,
                                        const std::shared_ptr<Queue>& mainQueue) {
    HostMachine machine;
    machine.display = display;
    machine.screens = X11ScreenList::make(mainQueue);
    // Without a desktop there is usually no session bus, and no one to show a notice to.
    machine.sessionBus = BusConnection::session(display.hasDisplay ? BusConnection::Absence::error
                                                                   : BusConnection::Absence::expected);
    machine.systemBus = PowerOffWatcher::systemBus();
    machine.discovery = std::make_shared<AvahiDiscovery>();
    // Icons are drawn with Qt, on the GUI thread. Taps are moved onto controls and the keyboard focus
    // followed only where there are windows to read.
    machine.desktop = X11HostDesktop::make(machine.screens, mainQueue, deviceImages,
                                           display.hasDisplay ? AtspiAccessibility::shared() : nullptr);
    if (display.curtainCanCover()) {
        machine.curtain = std::make_shared<DesktopCurtain>(X11Curtain::forDesktop());
    }
    machine.makeAway = [](const std::string& hostID, std::shared_ptr<DefaultsStore> settings) {
        return AwayAccess::make(hostID, std::move(settings));
    };
    if (display.hasDisplay) {
        machine.tray = DesktopSystemTray::make(machine.sessionBus, mainQueue);
    }
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    machine.currentDesktop = desktop != nullptr ? desktop : "";
    machine.settingsFolder = DefaultsStore::standardFolder();
    machine.secretsFolder = GenericPasswordStore::standardFolder();
    machine.downloadFolder = XdgDirs::downloadFolder();
    machine.snapshots = SnapshotWatch::shared();
    machine.launchAtLogin = LaunchAtLogin::standard();
    machine.readiness = RestartReadiness::Sources::standard();
    machine.hostName = [] { return ComputerName::pretty(); };
    machine.hostModel = DeviceModel::current();
    return machine;
}

} // namespace velm
