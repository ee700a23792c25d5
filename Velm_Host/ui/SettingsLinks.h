#pragma once

#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// The places in the desktop's settings where the user fixes what keeps the host from coming back
// by itself.
enum class SettingsPane {
    automaticLogin,
    power,
    notifications,
};

// Opens a pane of the desktop's own settings program: GNOME's gnome-control-center or KDE's
// systemsettings, whichever the desktop has (its own first). Without either there is nothing to
// open, and the views hide the buttons that would. The program is looked for each time a link is
// shown or used (a few lookups in the PATH), so one installed or removed while the host runs counts
// at once.
class SettingsLinks {
public:
    enum class Program {
        gnomeControlCenter,
        kdeSystemSettings,
    };

    struct Command {
        std::string program; // the program's full path
        std::vector<std::string> arguments;

        friend bool operator==(const Command&, const Command&) = default;
    };

    // Starts a command and lets it run on its own; false when it could not be started.
    using Launch = std::function<bool(const Command&)>;

    // No settings program.
    SettingsLinks() = default;
    // Always `program`, at `path`.
    SettingsLinks(Program program, std::string path, Launch launch);

    // The settings program in `searchPaths` (the PATH when empty), the one that belongs to
    // `currentDesktop` (XDG_CURRENT_DESKTOP's form, "ubuntu:GNOME") first.
    static SettingsLinks find(std::string_view currentDesktop, const QStringList& searchPaths, Launch launch);
    // Starts the command detached from this process, so it outlives neither more nor less than it wants,
    // and holds none of the host's connections or files while it runs.
    static bool startDetached(const Command& command);

    bool canOpen() const { return found().has_value(); }
    std::optional<Command> command(SettingsPane pane) const;
    // False when there is no settings program or it could not be started.
    bool open(SettingsPane pane) const;

private:
    struct Found {
        Program program;
        std::string path;
    };
    struct Search {
        std::string currentDesktop;
        QStringList paths;
    };

    std::optional<Found> found() const;
    static std::string_view paneArgument(Program program, SettingsPane pane);

    // One or the other, or neither for no program.
    std::optional<Found> fixed_{};
    std::optional<Search> search_{};
    Launch launch_{};
};

} // namespace velm
