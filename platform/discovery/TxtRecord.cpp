#include "platform/discovery/TxtRecord.h"

#include "platform/core/Utf8.h"

#include <algorithm>

namespace velm {
namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool isPublishableKey(std::string_view key) {
    return !key.empty() &&
           std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7e && c != '='; });
}

} // namespace

std::optional<std::string> TxtRecord::value(std::string_view key) const {
    for (const auto& entry : entries_) {
        if (equalIgnoringAsciiCase(entry.key, key)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

bool TxtRecord::isPublishable() const {
    return std::all_of(entries_.begin(), entries_.end(), [](const Entry& entry) {
        return isPublishableKey(entry.key) && entry.key.size() + 1 + entry.value.size() <= maxEntrySize;
    });
}

TxtRecord::Entry TxtRecord::parseEntry(std::string_view raw) {
    const auto equals = raw.find('=');
    if (equals == std::string_view::npos) {
        return {Utf8::repaired(raw), {}};
    }
    return {Utf8::repaired(raw.substr(0, equals)), Utf8::repaired(raw.substr(equals + 1))};
}

} // namespace velm
