#pragma once

#include "Velm_Host/away/HostAwayAccess.h"
#include "Velm_Host/model/DisplaySession.h"
#include "Velm_Host/model/HostCurtain.h"
#include "Velm_Host/model/HostDesktop.h"
#include "Velm_Host/model/LaunchAtLogin.h"
#include "Velm_Host/model/RestartReadiness.h"
#include "Velm_Host/ui/SnapshotWatch.h"
#include "Velm_Host/ui/SystemTray.h"
#include "platform/dbus/BusConnection.h"
#include "platform/discovery/Discovery.h"
#include "platform/dispatch/Queue.h"
#include "platform/display/ScreenList.h"
#include "platform/store/DefaultsStore.h"
#include "protocol/DeviceModel.h"

#include <QStringList>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// What this computer gives the host: its display and screens, its buses, the programs on its PATH, its
// folders, and the parts that reach its desktop and its network. DesktopApplication builds the host
// from it; tests give stand-ins.
struct HostMachine {
    using MakeAway = std::function<std::shared_ptr<HostAwayAccess>(const std::string& hostID,
                                                                   std::shared_ptr<DefaultsStore>)>;

    DisplaySession display;
    // The process's one list of the screens, reporting on the main queue: the desktop watches it for
    // the model and the main window reads it, so that a change the model publishes is the one the
    // window shows. Empty without a display.
    std::shared_ptr<ScreenList> screens;
    // Null where there is none.
    std::shared_ptr<BusConnection> sessionBus;
    std::shared_ptr<BusConnection> systemBus;
    std::shared_ptr<Discovery> discovery;
    // This computer's desktop as sessions use it, over `screens`.
    std::shared_ptr<HostDesktop> desktop;
    // Null: no curtain can cover this desktop.
    std::shared_ptr<HostCurtain> curtain;
    // Null: no away access.
    MakeAway makeAway;
    // Null: there is never a system tray.
    std::shared_ptr<SystemTray> tray;
    // Where the desktop's settings program is looked for (empty: the PATH), and which desktop this is
    // (XDG_CURRENT_DESKTOP's form, "ubuntu:GNOME").
    QStringList programFolders;
    std::string currentDesktop;
    std::filesystem::path settingsFolder;
    std::filesystem::path secretsFolder;
    std::filesystem::path downloadFolder;
    // The host's snapshot store, as the views watch it.
    std::shared_ptr<SnapshotWatch> snapshots;
    std::optional<LaunchAtLogin> launchAtLogin;
    RestartReadiness::Sources readiness;
    // How the host presents itself: the computer's name, read as it is needed (advertised and told in
    // the host's hello).
    std::function<std::string()> hostName;
    std::optional<DeviceModel> hostModel;

    // The display session as the environment names it, but a display that cannot be reached (a stale
    // DISPLAY, an X server that ended) is none: Qt would end the program starting on it.
    static DisplaySession displayOfThisComputer();

    // This computer as its environment tells of it. `mainQueue` runs on the Qt event loop's thread,
    // whose application object must exist by now.
    static HostMachine ofThisComputer(const DisplaySession& display, const std::shared_ptr<Queue>& mainQueue);
};

} // namespace velm
