#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A settings file of "[section]" headers and "key=value" lines, as display managers keep them.
// Comments start with '#' or ';'; spaces around keys and values are dropped; the last value of a
// key counts. Files larger than maxBytes are not read.
class IniFile {
public:
    static constexpr std::size_t maxBytes = 256 * 1024;

    // Nothing when the file is missing, unreadable or too large.
    static std::optional<IniFile> read(const std::filesystem::path& file);
    static IniFile parse(std::string_view contents);

    std::optional<std::string> value(std::string_view section, std::string_view key) const;

private:
    std::map<std::pair<std::string, std::string>, std::string, std::less<>> values_;
};

} // namespace velm
