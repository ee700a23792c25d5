#pragma once

// tests/data/door_vectors.json, made by an independent implementation (tests/data/make_door_vectors.py).
// Header-only so that VELM_TEST_DATA_DIR comes from the test executable including it.

#include "platform/core/Bytes.h"
#include "tests/support/TestVectors.h"

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>

namespace velm::test {

inline const nlohmann::json& doorVectors() {
    static const nlohmann::json vectors = [] {
        std::ifstream file(std::string(VELM_TEST_DATA_DIR) + "/door_vectors.json");
        return nlohmann::json::parse(file);
    }();
    return vectors;
}

// The entry of that name and kind; fails the running test when there is none.
template <typename T> T doorEntry(std::string_view name) {
    const auto found = doorVectors().find(std::string(name));
    const bool isString = std::is_same_v<T, std::string>;
    if (found == doorVectors().end() || (isString ? !found->is_string() : !found->is_number_unsigned())) {
        ADD_FAILURE() << "no door vector named " << name;
        return T{};
    }
    return found->get<T>();
}

inline Bytes doorVector(std::string_view name) {
    return fromHex(doorEntry<std::string>(name));
}
inline std::uint64_t doorNumber(std::string_view name) {
    return doorEntry<std::uint64_t>(name);
}

} // namespace velm::test
