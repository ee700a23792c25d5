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
constexpr std::string_view prettyKey = "PRETTY_HOSTNAME";

std::string readMachineInfo() {
    std::ifstream stream("/etc/machine-info", std::ios::binary);
    std::string contents(maxMachineInfoBytes, '\0');
    stream.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    contents.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    return contents;
}

constexpr std::string_view blanks = " \t";

std::string_view withoutLeadingBlanks(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(blanks), text.size()));
    return text;
}

std::string_view withoutTrailingBlanks(std::string_view text) {
    return text.substr(0, text.find_last_not_of(blanks) + 1);
}

// A value as systemd reads the file: quotes of either kind may enclose any part; outside them a
// backslash takes the next character as it is and trailing blanks are no part of the value; inside
// double quotes a backslash escapes only the characters that would end or expand the text.
std::string valueOf(std::string_view text) {
    constexpr std::string_view escapedInDoubleQuotes = "\"\\`$";
    std::string value;
    std::size_t kept = 0; // up to the last character that is not a trailing unquoted blank
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == 0 && (c == '\'' || c == '"')) {
            quote = c;
            continue;
        }
        if (c == quote) {
            quote = 0;
            continue;
        }
        if (c == '\\' && quote != '\'' && i + 1 < text.size()) {
            const char next = text[++i];
            if (quote == '"' && escapedInDoubleQuotes.find(next) == std::string_view::npos) {
                value += c;
            }
            value += next;
        } else {
            value += c;
            if (quote == 0 && blanks.find(c) != std::string_view::npos) {
                continue;
            }
        }
        kept = value.size();
    }
    value.resize(kept);
    return value;
}

// The last assignment wins; a line may end in a carriage return, and blanks may surround the key.
std::optional<std::string> prettyHostName(std::string_view machineInfo) {
    std::optional<std::string> found;
    while (!machineInfo.empty()) {
        const auto end = machineInfo.find_first_of("\n\r");
        const std::string_view line = withoutLeadingBlanks(machineInfo.substr(0, end));
        machineInfo.remove_prefix(end == std::string_view::npos ? machineInfo.size() : end + 1);
        const auto equals = line.find('=');
        if (equals != std::string_view::npos && withoutTrailingBlanks(line.substr(0, equals)) == prettyKey) {
            found = valueOf(withoutLeadingBlanks(line.substr(equals + 1)));
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
