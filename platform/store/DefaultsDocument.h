#pragma once

#include "platform/core/Bytes.h"

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace velm {

// The whole settings file: one JSON object whose members are the entries (DefaultsEntry), by key. The
// file and its last good copy are read the same way.
struct DefaultsDocument {
    using Entries = std::map<std::string, nlohmann::json, std::less<>>;

    // Absent when the contents are not a JSON object or nest deeper than any entry may. A part that
    // nests too deeply is dropped as it is met, so a hostile file cannot make us build its whole depth.
    // Entries are taken as they are, whatever their form.
    static std::optional<Entries> decode(ByteView contents);
    // The file's text; absent when an entry cannot be written as JSON (text that is not UTF-8).
    static std::optional<std::string> encode(const Entries& entries);
};

} // namespace velm
