#include "Velm_Host/model/IniFile.h"

#include <fstream>

namespace velm {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::optional<IniFile> IniFile::read(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::string contents(maxBytes + 1, '\0');
    stream.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    const auto count = stream.gcount();
    if (count < 0 || static_cast<std::size_t>(count) > maxBytes || stream.bad()) {
        return std::nullopt;
    }
    contents.resize(static_cast<std::size_t>(count));
    return parse(contents);
}

IniFile IniFile::parse(std::string_view contents) {
    IniFile file;
    std::string section;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        const auto line = trimmed(contents.substr(0, end));
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(line.substr(1, line.size() - 2));
        } else if (const auto equals = line.find('='); equals != std::string_view::npos) {
            file.values_[{section, std::string(trimmed(line.substr(0, equals)))}] =
                std::string(trimmed(line.substr(equals + 1)));
        }
    }
    return file;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const auto found = values_.find(std::pair<std::string, std::string>(section, key));
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace velm
