#pragma once

#include "platform/core/Bytes.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>

namespace velm {

// One setting: a Boolean, an integer, a double, a string, bytes, or a JSON value kept whole (a record such
// as {"records":[...]}). Objects inside a JSON value come back with their keys sorted.
using DefaultsValue = std::variant<bool, std::int64_t, double, std::string, Bytes, nlohmann::json>;

} // namespace velm
