#include "platform/desktop/RunningApplications.h"

#include <algorithm>
#include <array>
#include <unistd.h>

namespace velm::RunningApplications {
namespace {

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool belongsTo(const WindowOwner& window, const std::string& program, const DesktopApp& app) {
    if (!app.windowClass.empty() &&
        (window.className == app.windowClass || window.instanceName == app.windowClass)) {
        return true;
    }
    return !program.empty() && !app.executable.empty() && lastComponent(app.executable) == program;
}

} // namespace

std::string programName(long pid) {
    if (pid <= 0) {
        return {};
    }
    std::array<char, 4096> target{};
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return {};
    }
    std::string path(target.data(), static_cast<std::size_t>(length));
    // A program replaced on disk since it started reads as "PATH (deleted)".
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return lastComponent(path);
}

std::vector<DesktopApp> match(const std::vector<WindowOwner>& windows,
                              const std::vector<DesktopApp>& installed) {
    std::vector<DesktopApp> running;
    for (const WindowOwner& window : windows) {
        const std::string program = programName(window.pid);
        for (const DesktopApp& app : installed) {
            if (belongsTo(window, program, app) &&
                std::none_of(running.begin(), running.end(),
                             [&](const DesktopApp& seen) { return seen.id == app.id; })) {
                running.push_back(app);
            }
        }
    }
    return running;
}

} // namespace velm::RunningApplications
