#include "platform/store/XdgDirs.h"

#include "platform/core/UserAccount.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

const Log xdgDirsLog("store");

std::filesystem::path absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

// A user-dirs.dirs file is a few lines; anything longer is not read.
constexpr std::size_t maxUserDirsBytes = 64 * 1024;

std::string readSmallFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::string contents(maxUserDirsBytes + 1, '\0');
    stream.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    const auto count = static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0));
    contents.resize(count > maxUserDirsBytes ? 0 : count);
    return contents;
}

// The value of one `KEY="value"` line; the shell escapes the file may hold are undone.
std::optional<std::string> quotedValue(std::string_view line, std::string_view key) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    if (!line.starts_with(key) || line.substr(key.size()).size() < 3 || line[key.size()] != '=' ||
        line[key.size() + 1] != '"') {
        return std::nullopt;
    }
    line.remove_prefix(key.size() + 2);
    std::string value;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            return value;
        }
        if (line[i] == '\\' && i + 1 < line.size()) {
            ++i;
        }
        value += line[i];
    }
    return std::nullopt;
}

bool isPrivateFolderOfOurs(const std::filesystem::path& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 077) == 0;
}

} // namespace

std::filesystem::path XdgDirs::home() {
    if (auto fromEnvironment = absoluteVariable("HOME"); !fromEnvironment.empty()) {
        return fromEnvironment;
    }
    if (const auto account = UserAccount::current(); account && !account->home.empty()) {
        return account->home;
    }
    return "/";
}

std::filesystem::path XdgDirs::configHome() {
    auto configured = absoluteVariable("XDG_CONFIG_HOME");
    return configured.empty() ? home() / ".config" : configured;
}

std::vector<std::filesystem::path> XdgDirs::configDirs() {
    std::vector<std::filesystem::path> folders;
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    std::string_view rest = value == nullptr ? "" : value;
    while (!rest.empty()) {
        const auto end = rest.find(':');
        const auto entry = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (entry.starts_with('/')) {
            folders.emplace_back(entry);
        }
    }
    if (folders.empty()) {
        folders.emplace_back("/etc/xdg");
    }
    return folders;
}

std::filesystem::path XdgDirs::dataHome() {
    auto configured = absoluteVariable("XDG_DATA_HOME");
    return configured.empty() ? home() / ".local" / "share" : configured;
}

std::filesystem::path XdgDirs::downloadFolder() {
    const auto base = home();
    const auto named = userDir(readSmallFile(configHome() / "user-dirs.dirs"), "XDG_DOWNLOAD_DIR", base);
    return named.value_or(base / "Downloads");
}

// The base-directory rules want the runtime folder the user's alone; one that is not (inherited from
// another user through su, or shared) would let others hold or plant what is kept there.
std::optional<std::filesystem::path> XdgDirs::runtimeFolder() {
    if (auto configured = absoluteVariable("XDG_RUNTIME_DIR"); !configured.empty()) {
        if (isPrivateFolderOfOurs(configured)) {
            return configured;
        }
        xdgDirsLog.warning("XDG_RUNTIME_DIR %s is not a private folder of this user's; not used",
                           configured.c_str());
    }
    const std::filesystem::path ours = "/tmp/velm-host-" + std::to_string(geteuid());
    mkdir(ours.c_str(), 0700);
    if (!isPrivateFolderOfOurs(ours)) {
        return std::nullopt;
    }
    return ours;
}

std::optional<std::filesystem::path> XdgDirs::userDir(std::string_view contents, std::string_view key,
                                                      const std::filesystem::path& home) {
    std::optional<std::filesystem::path> found;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        const auto line = contents.substr(0, end);
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        const auto value = quotedValue(line, key);
        if (!value) {
            continue;
        }
        constexpr std::string_view homePrefix = "$HOME";
        if (*value == homePrefix || *value == "$HOME/") {
            found = home;
        } else if (value->starts_with("$HOME/")) {
            found = home / value->substr(homePrefix.size() + 1);
        } else if (value->starts_with('/')) {
            found = *value;
        }
    }
    return found;
}

} // namespace velm
