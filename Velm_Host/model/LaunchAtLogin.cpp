#include "Velm_Host/model/LaunchAtLogin.h"

#include "platform/core/Bytes.h"
#include "platform/store/StoreFolder.h"
#include "platform/store/XdgDirs.h"

#include <algorithm>

namespace velm {
namespace {

bool isPlain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/._+-").find(c) != std::string_view::npos;
}

// The program as the Exec key wants it: plain paths as they are, others in double quotes with the
// quoting rules' characters escaped, and every backslash doubled again for the key's string value.
std::string execArgument(const std::string& path) {
    if (!path.empty() && std::all_of(path.begin(), path.end(), isPlain)) {
        return path;
    }
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += "\\\\";
        }
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

LaunchAtLogin LaunchAtLogin::standard() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return LaunchAtLogin(XdgDirs::configHome() / "autostart", error ? "velm-host" : program);
}

std::optional<std::string> LaunchAtLogin::set(bool enabled) const {
    const StoreFolder folder(folder_);
    if (!enabled) {
        return folder.remove(std::string(entryName))
                   ? std::nullopt
                   : std::optional<std::string>("the entry could not be removed");
    }
    const auto text = entry();
    const Bytes contents(text.begin(), text.end());
    return folder.replace(std::string(entryName), contents)
               ? std::nullopt
               : std::optional<std::string>("the entry could not be written to " + folder_.string());
}

std::string LaunchAtLogin::entry() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velm Host\n"
           "Comment=Lets your paired tablet or phone use this computer\n"
           "Exec=" +
           execArgument(program_.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

} // namespace velm
