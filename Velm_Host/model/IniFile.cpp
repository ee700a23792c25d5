#include "Velm_Host/model/IniFile.h"

#include "platform/file/ReadableFile.h"

#include <cstdint>
#include <vector>

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
    auto readable = ReadableFile::open(file);
    if (!readable) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> contents(maxBytes + 1);
    const auto count = readable->read(contents);
    if (!count || *count > maxBytes) {
        return std::nullopt;
    }
    return parse(std::string_view(reinterpret_cast<const char*>(contents.data()), *count));
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

void IniFile::overlay(const IniFile& later) {
    for (const auto& [where, text] : later.values_) {
        values_[where] = text;
    }
}

void IniFile::mergeSection(std::string_view from, std::string_view to) {
    for (auto entry = values_.begin(); entry != values_.end();) {
        if (entry->first.first != from) {
            ++entry;
            continue;
        }
        values_.try_emplace({std::string(to), entry->first.second}, entry->second);
        entry = values_.erase(entry);
    }
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const auto found = values_.find(std::pair<std::string, std::string>(section, key));
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace velm
