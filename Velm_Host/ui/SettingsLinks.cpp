#include "Velm_Host/ui/SettingsLinks.h"

#include "platform/log/Log.h"
#include "platform/system/DetachedProgram.h"

#include <QStandardPaths>
#include <array>
#include <utility>

namespace velm {
namespace {

const Log uiLog("ui");

struct Candidate {
    SettingsLinks::Program program;
    const char* name;
};

constexpr Candidate gnome{SettingsLinks::Program::gnomeControlCenter, "gnome-control-center"};
constexpr Candidate kde{SettingsLinks::Program::kdeSystemSettings, "systemsettings"};

bool namesKde(std::string_view currentDesktop) {
    // A colon-separated list of names; KDE's sessions say "KDE".
    std::size_t start = 0;
    while (start <= currentDesktop.size()) {
        const std::size_t end = std::min(currentDesktop.find(':', start), currentDesktop.size());
        if (currentDesktop.substr(start, end - start) == "KDE") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

SettingsLinks::SettingsLinks(Program program, std::string path, Launch launch)
    : fixed_(Found{program, std::move(path)}), launch_(std::move(launch)) {}

SettingsLinks SettingsLinks::find(std::string_view currentDesktop, const QStringList& searchPaths,
                                  Launch launch) {
    SettingsLinks links;
    links.search_ = Search{std::string(currentDesktop), searchPaths};
    links.launch_ = std::move(launch);
    return links;
}

std::optional<SettingsLinks::Found> SettingsLinks::found() const {
    if (!search_) {
        return fixed_;
    }
    const std::array<Candidate, 2> order =
        namesKde(search_->currentDesktop) ? std::array{kde, gnome} : std::array{gnome, kde};
    for (const Candidate& candidate : order) {
        const QString path =
            QStandardPaths::findExecutable(QString::fromLatin1(candidate.name), search_->paths);
        if (!path.isEmpty()) {
            return Found{candidate.program, path.toStdString()};
        }
    }
    return std::nullopt;
}

bool SettingsLinks::startDetached(const Command& command) {
    return DetachedProgram::start(command.program, command.arguments);
}

std::optional<SettingsLinks::Command> SettingsLinks::command(SettingsPane pane) const {
    const auto program = found();
    if (!program) {
        return std::nullopt;
    }
    return Command{program->path, {std::string(paneArgument(program->program, pane))}};
}

bool SettingsLinks::open(SettingsPane pane) const {
    const auto wanted = command(pane);
    if (!wanted || !launch_) {
        return false;
    }
    if (!launch_(*wanted)) {
        uiLog.error("settings not opened: %s", wanted->program.c_str());
        return false;
    }
    return true;
}

std::string_view SettingsLinks::paneArgument(Program program, SettingsPane pane) {
    const bool isGnome = program == Program::gnomeControlCenter;
    switch (pane) {
    case SettingsPane::automaticLogin:
        // GNOME keeps automatic login with the user accounts; KDE with its display manager, SDDM.
        return isGnome ? "users" : "kcm_sddm";
    case SettingsPane::power:
        return isGnome ? "power" : "powerdevilprofilesconfig";
    case SettingsPane::notifications:
        return isGnome ? "notifications" : "kcm_notifications";
    }
    return {};
}

} // namespace velm
