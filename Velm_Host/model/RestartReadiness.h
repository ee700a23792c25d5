#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velm {

// Whether this computer comes back by itself after a restart or a power cut, with the host running:
// what the main window asks the user to fix. Fields that Linux gives no way to read are unknown.
struct RestartReadiness {
    // Where the answers are read; tests point them at a temporary folder.
    struct Sources {
        // The host's entry in the desktop's autostart folder.
        std::filesystem::path autostartEntry;
        // The root under which the display managers keep their settings ("/etc/...").
        std::filesystem::path systemRoot = "/";
        // The user who should be logged in.
        std::string userName;

        static Sources standard();
    };

    // The host's autostart entry exists.
    bool opensAtLogin = false;
    // The display manager (GDM, LightDM or SDDM) logs this user in by itself; unknown when none of
    // their settings files is there.
    std::optional<bool> logsInAutomatically;
    // Whether the machine powers on when power returns is firmware's business: unknown.
    std::optional<bool> startsAfterPowerFailure;

    // Never fails: anything unreadable counts as not set.
    static RestartReadiness read(const Sources& sources);
    static RestartReadiness read() { return read(Sources::standard()); }

    friend bool operator==(const RestartReadiness&, const RestartReadiness&) = default;
};

} // namespace velm
