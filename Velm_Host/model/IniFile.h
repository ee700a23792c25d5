#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A settings file of "[section]" headers and "key=value" lines, as display managers and desktop
// entries keep them. Comments start with '#' or ';'; spaces around keys and values are dropped; the
// last value of a key counts. Files larger than maxBytes are not read.
class IniFile {
public:
    static constexpr std::size_t maxBytes = 256 * 1024;

    // Nothing when the file is missing, unreadable, too large or not a regular file (a pipe
    // could stall the read for ever).
    static std::optional<IniFile> read(const std::filesystem::path& file);
    static IniFile parse(std::string_view contents);

    // Lays the values of a file read later over these, as programs that read a folder of drop-in
    // files and then their main file do.
    void overlay(const IniFile& later);
    // Files the values of section `from` under `to`, where `to` has no value of that key: an
    // older name of a section that programs still read.
    void mergeSection(std::string_view from, std::string_view to);

    std::optional<std::string> value(std::string_view section, std::string_view key) const;

private:
    std::map<std::pair<std::string, std::string>, std::string, std::less<>> values_;
};

} // namespace velm
