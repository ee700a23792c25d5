#pragma once

#include "platform/store/DefaultsValue.h"

#include <nlohmann/json.hpp>
#include <optional>

namespace velm {

// How one setting is kept in the settings file: Booleans, integers, doubles and strings as plain JSON,
// bytes as {"data":"<Base64>"}, a JSON value as {"json":<value>}.
struct DefaultsEntry {
    // Nesting deeper than this is refused, in values and in the file.
    static constexpr int maxDepth = 64;

    // Absent for what JSON cannot carry faithfully: a non-finite double, text that is not UTF-8, more
    // bytes than the file may hold, or a JSON value that holds binary, one of those or nests too deeply.
    static std::optional<nlohmann::json> encode(const DefaultsValue& value);
    // Absent for an entry of any other form.
    static std::optional<DefaultsValue> decode(const nlohmann::json& entry);
};

} // namespace velm
