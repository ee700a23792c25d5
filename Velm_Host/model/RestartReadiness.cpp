#include "Velm_Host/model/RestartReadiness.h"

#include "Velm_Host/model/IniFile.h"
#include "Velm_Host/model/LaunchAtLogin.h"
#include "platform/core/UserAccount.h"
#include "platform/store/XdgDirs.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <strings.h>
#include <unistd.h>

namespace velm {
namespace {

namespace fs = std::filesystem;

// More drop-in files than anyone keeps; the rest of a folder is not read.
constexpr std::size_t maxDropIns = 256;

bool isThere(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

// A display manager's settings as it reads them: the files of each drop-in folder in the order of
// their names, then its main file, later values winning. Whether any of them is there tells
// whether the display manager is installed.
struct LayeredSettings {
    bool found = false;
    IniFile values;

    void add(const fs::path& file) {
        found = found || isThere(file);
        if (const auto read = IniFile::read(file)) {
            values.overlay(*read);
        }
    }

    void addFolder(const fs::path& folder, std::string_view suffix) {
        std::error_code error;
        std::vector<fs::path> files;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            const auto name = entry->path().filename().string();
            if (name.ends_with(suffix) && !name.starts_with('.') && files.size() < maxDropIns) {
                files.push_back(entry->path());
            }
        }
        found = found || isThere(folder);
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            add(file);
        }
    }
};

bool anyExists(const fs::path& root, std::initializer_list<const char*> paths) {
    return std::any_of(paths.begin(), paths.end(), [&](const char* path) { return isThere(root / path); });
}

bool names(const std::optional<std::string>& value, const std::string& user) {
    return value && !user.empty() && *value == user;
}

// GDM's switches take "true" in any case, or "1".
bool isOn(const std::optional<std::string>& value) {
    return value && (strcasecmp(value->c_str(), "true") == 0 || *value == "1");
}

// The settings of a display manager that reads drop-in folders before its main file; none when it
// has no settings there and its program is not installed either.
std::optional<IniFile> layeredDisplayManager(const fs::path& root,
                                             std::initializer_list<const char*> dropInFolders,
                                             std::string_view dropInSuffix, const char* mainFile,
                                             const char* program) {
    LayeredSettings settings;
    for (const char* folder : dropInFolders) {
        settings.addFolder(root / folder, dropInSuffix);
    }
    settings.add(root / mainFile);
    if (!settings.found && !anyExists(root, {program})) {
        return std::nullopt;
    }
    return std::move(settings.values);
}

std::optional<bool> sddmLogsIn(const RestartReadiness::Sources& sources) {
    const auto values =
        layeredDisplayManager(sources.systemRoot, {"usr/lib/sddm/sddm.conf.d", "etc/sddm.conf.d"}, "",
                              "etc/sddm.conf", "usr/bin/sddm");
    if (!values) {
        return std::nullopt;
    }
    return names(values->value("Autologin", "User"), sources.userName);
}

std::optional<bool> lightdmLogsIn(const RestartReadiness::Sources& sources) {
    auto values = layeredDisplayManager(sources.systemRoot,
                                        {"usr/share/lightdm/lightdm.conf.d", "etc/lightdm/lightdm.conf.d"},
                                        ".conf", "etc/lightdm/lightdm.conf", "usr/sbin/lightdm");
    if (!values) {
        return std::nullopt;
    }
    // "SeatDefaults" is what "Seat:*" was called before; the first seat's own section wins.
    values->mergeSection("SeatDefaults", "Seat:*");
    auto user = values->value("Seat:seat0", "autologin-user");
    if (!user) {
        user = values->value("Seat:*", "autologin-user");
    }
    return names(user, sources.userName);
}

// GDM reads one file: daemon.conf on Debian, custom.conf where other distributions keep it. A timed
// login logs the user in by itself too, after its delay.
std::optional<bool> gdmLogsIn(const RestartReadiness::Sources& sources) {
    for (const char* file : {"etc/gdm3/daemon.conf", "etc/gdm3/custom.conf", "etc/gdm/custom.conf"}) {
        LayeredSettings settings;
        settings.add(sources.systemRoot / file);
        if (!settings.found) {
            continue;
        }
        const auto& values = settings.values;
        return (isOn(values.value("daemon", "AutomaticLoginEnable")) &&
                names(values.value("daemon", "AutomaticLogin"), sources.userName)) ||
               (isOn(values.value("daemon", "TimedLoginEnable")) &&
                names(values.value("daemon", "TimedLogin"), sources.userName));
    }
    if (anyExists(sources.systemRoot, {"usr/sbin/gdm3", "usr/sbin/gdm"})) {
        return false;
    }
    return std::nullopt;
}

std::optional<bool> anyDisplayManagerLogsIn(const RestartReadiness::Sources& sources) {
    std::optional<bool> answer;
    for (const auto& displayManager : {sddmLogsIn, lightdmLogsIn, gdmLogsIn}) {
        if (const auto logsIn = displayManager(sources)) {
            answer = answer.value_or(false) || *logsIn;
        }
    }
    return answer;
}

// Desktops run an entry's program by its path, or by its name found in the PATH.
bool canRun(const std::string& program) {
    const auto runnable = [](const fs::path& path) {
        std::error_code ignored;
        return fs::is_regular_file(path, ignored) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) {
        return runnable(program);
    }
    const char* path = std::getenv("PATH");
    const std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const auto end = std::min(folders.find(':', start), folders.size());
        if (end > start && runnable(fs::path(folders.substr(start, end - start)) / program)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Desktop entries spell their Booleans "true" and "false"; GLib, which most desktops read them
// with, also takes "1" and "0".
bool autostartEntryEnabled(const RestartReadiness::Sources& sources) {
    for (const auto& folder : sources.autostartFolders) {
        const auto entryFile = folder / LaunchAtLogin::entryName;
        if (!isThere(entryFile)) {
            continue;
        }
        const auto entry = IniFile::read(entryFile);
        if (!entry) {
            return false;
        }
        const auto hidden = entry->value("Desktop Entry", "Hidden");
        const auto enabled = entry->value("Desktop Entry", "X-GNOME-Autostart-enabled");
        if (hidden == "true" || hidden == "1" || enabled == "false" || enabled == "0") {
            return false;
        }
        // An entry whose program has gone (moved, or its build folder cleaned) starts nothing.
        const auto exec = entry->value("Desktop Entry", "Exec");
        const auto program = exec ? LaunchAtLogin::programIn(*exec) : std::nullopt;
        return program && canRun(*program);
    }
    return false;
}

} // namespace

RestartReadiness::Sources RestartReadiness::Sources::standard() {
    Sources sources{.autostartFolders = {XdgDirs::configHome() / "autostart"},
                    .systemRoot = "/",
                    .userName = UserAccount::current().value_or(UserAccount{}).name};
    for (const auto& folder : XdgDirs::configDirs()) {
        sources.autostartFolders.push_back(folder / "autostart");
    }
    return sources;
}

RestartReadiness RestartReadiness::read(const Sources& sources) {
    return {.opensAtLogin = autostartEntryEnabled(sources),
            .logsInAutomatically = anyDisplayManagerLogsIn(sources),
            .startsAfterPowerFailure = std::nullopt};
}

} // namespace velm
