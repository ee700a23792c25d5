#include "platform/store/XdgDirs.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

std::filesystem::path absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

} // namespace

std::filesystem::path XdgDirs::home() {
    if (auto fromEnvironment = absoluteVariable("HOME"); !fromEnvironment.empty()) {
        return fromEnvironment;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path XdgDirs::configHome() {
    auto configured = absoluteVariable("XDG_CONFIG_HOME");
    return configured.empty() ? home() / ".config" : configured;
}

std::filesystem::path XdgDirs::dataHome() {
    auto configured = absoluteVariable("XDG_DATA_HOME");
    return configured.empty() ? home() / ".local" / "share" : configured;
}

} // namespace velm
