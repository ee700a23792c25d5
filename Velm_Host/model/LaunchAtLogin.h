#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Starting the host when the user logs in: an entry in the desktop's autostart folder
// ($XDG_CONFIG_HOME/autostart/velm-host.desktop) that runs this program by its path: the installed
// program, or the one in a build folder, which is said in the log when the entry is written (the
// entry then breaks when that folder is cleaned or rebuilt elsewhere).
class LaunchAtLogin {
public:
    static constexpr std::string_view entryName = "velm-host.desktop";

    // `systemFolders` are the system's autostart folders, whose entry of the same name desktops start
    // unless the user's folder holds one.
    LaunchAtLogin(std::filesystem::path autostartFolder, std::filesystem::path program,
                  std::vector<std::filesystem::path> systemFolders = {})
        : folder_(std::move(autostartFolder)), program_(std::move(program)),
          systemFolders_(std::move(systemFolders)) {}

    // The user's autostart folder, the system's ($XDG_CONFIG_DIRS/autostart) and the program now
    // running.
    static LaunchAtLogin standard();

    std::filesystem::path entryFile() const { return folder_ / entryName; }
    // Writes the entry (atomically) or removes it, leaving in its place one that hides the system's
    // entry when there is such; why it failed, or nothing once it is done.
    std::optional<std::string> set(bool enabled) const;
    // The entry's text.
    std::string entry() const;
    // The program an entry's Exec value runs, the value as the entry holds it: its first word with the
    // value's escapes, the quoting and doubled percent signs undone. Nothing when there is none or the
    // value is malformed (a stray escape or quote, a field code in place of the program).
    static std::optional<std::string> programIn(std::string_view exec);
    // Whether the program lies in a CMake build tree (a CMakeCache.txt beside it or above it).
    bool runsFromBuildFolder() const;

private:
    bool hasSystemEntry() const;

    std::filesystem::path folder_;
    std::filesystem::path program_;
    std::vector<std::filesystem::path> systemFolders_;
};

} // namespace velm
