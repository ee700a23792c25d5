#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// Whether this computer comes back by itself after a restart or a power cut, with the host running:
// what the main window asks the user to fix. Fields that Linux gives no way to read are unknown.
struct RestartReadiness {
    // Where the answers are read; tests point them at a temporary folder.
    struct Sources {
        // The autostart folders, most important first: the user's ($XDG_CONFIG_HOME/autostart),
        // then the system's ($XDG_CONFIG_DIRS/autostart). The first that holds the host's entry
        // decides, as desktops start programs at login.
        std::vector<std::filesystem::path> autostartFolders;
        // The root under which the display managers are installed and keep their settings
        // ("/etc/...").
        std::filesystem::path systemRoot = "/";
        // The user who should be logged in.
        std::string userName;

        static Sources standard();
    };

    // The host's autostart entry exists, is enabled (neither hidden nor switched off) and names a
    // program that is there to run.
    bool opensAtLogin = false;
    // Some installed display manager (GDM, LightDM or SDDM) logs this user in by itself; missing
    // keys and values it would not take read as no. Unknown only when none is installed: the
    // desktop then starts some other way (a console login, a kiosk session) that has no setting
    // the host can read, and asking would send the user to settings that are not there.
    std::optional<bool> logsInAutomatically;
    // Whether the machine powers on when power returns is firmware's business, which Linux
    // offers no setting to read: unknown, so nothing is asked.
    std::optional<bool> startsAfterPowerFailure;

    // Never fails: anything unreadable counts as not set.
    static RestartReadiness read(const Sources& sources);
    static RestartReadiness read() { return read(Sources::standard()); }

    friend bool operator==(const RestartReadiness&, const RestartReadiness&) = default;
};

} // namespace velm
