#include "platform/x11/CopiedFiles.h"

#include "platform/core/Digits.h"

#include <optional>
#include <sys/stat.h>

namespace velm::CopiedFiles {
namespace {

// The path of a "file:" URI of this machine (no host, "localhost"), percent-decoded. A path with
// a zero byte, or that is not absolute, is none.
std::optional<std::string> localPath(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (!uri.starts_with(scheme)) {
        return std::nullopt;
    }
    uri.remove_prefix(scheme.size());
    if (uri.starts_with("localhost/")) {
        uri.remove_prefix(9);
    }
    if (!uri.starts_with('/')) {
        return std::nullopt;
    }
    std::string path;
    for (std::size_t index = 0; index < uri.size(); ++index) {
        char character = uri[index];
        if (character == '%') {
            const auto escaped =
                index + 2 < uri.size() ? Digits::parse(uri.substr(index + 1, 2), 16, 2) : std::nullopt;
            if (!escaped) {
                return std::nullopt;
            }
            character = static_cast<char>(*escaped);
            index += 2;
        }
        if (character == '\0') {
            return std::nullopt;
        }
        path.push_back(character);
    }
    return path;
}

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

std::vector<std::string> paths(std::string_view data, bool gnomeForm) {
    std::vector<std::string> result;
    std::size_t items = 0;
    bool firstLine = true;
    while (!data.empty() && items < maxItems) {
        const auto end = data.find('\n');
        const std::string_view line = trimmed(data.substr(0, end));
        data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
        const bool isOperation = gnomeForm && firstLine;
        firstLine = false;
        if (isOperation || line.empty() || line.starts_with('#')) {
            continue;
        }
        ++items;
        if (auto path = localPath(line)) {
            result.push_back(std::move(*path));
        }
    }
    return result;
}

std::vector<CopiedFile> regularFiles(const std::vector<std::string>& paths) {
    std::vector<CopiedFile> files;
    for (const std::string& path : paths) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            continue;
        }
        const auto slash = path.find_last_of('/');
        std::string name = path.substr(slash + 1);
        if (name.empty()) {
            continue;
        }
        files.push_back({path, std::move(name), static_cast<std::uint64_t>(status.st_size)});
    }
    return files;
}

} // namespace velm::CopiedFiles
