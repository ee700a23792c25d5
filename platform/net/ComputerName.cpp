#include "platform/net/ComputerName.h"

#include <algorithm>
#include <array>
#include <climits>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace velm {
namespace {

constexpr std::size_t maxMachineInfoBytes = 64 * 1024;
constexpr std::string_view prettyKey = "PRETTY_HOSTNAME=";

std::string readMachineInfo() {
    std::ifstream stream("/etc/machine-info", std::ios::binary);
    std::string contents(maxMachineInfoBytes, '\0');
    stream.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    contents.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    return contents;
}

// The file is a list of shell assignments: a value may be quoted in either way, with backslash
// escapes inside double quotes.
std::string unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return std::string(value.substr(1, value.size() - 2));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
        std::string text;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) {
                ++i;
            }
            text += value[i];
        }
        return text;
    }
    return std::string(value);
}

std::optional<std::string> prettyHostName(std::string_view machineInfo) {
    std::optional<std::string> found;
    while (!machineInfo.empty()) {
        const auto end = machineInfo.find('\n');
        auto line = machineInfo.substr(0, end);
        machineInfo.remove_prefix(end == std::string_view::npos ? machineInfo.size() : end + 1);
        if (line.starts_with(prettyKey)) {
            found = unquoted(line.substr(prettyKey.size()));
        }
    }
    return found;
}

std::string hostName() {
    std::array<char, HOST_NAME_MAX + 1> buffer{};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0) {
        return {};
    }
    return buffer.data();
}

} // namespace

std::string ComputerName::pretty() {
    return pretty(readMachineInfo(), hostName());
}

std::string ComputerName::pretty(std::string_view machineInfo, std::string_view hostName) {
    if (auto name = prettyHostName(machineInfo); name && !name->empty()) {
        return *name;
    }
    return hostName.empty() ? std::string(fallback) : std::string(hostName);
}

} // namespace velm
