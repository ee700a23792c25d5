#pragma once

// The door vectors in tests/data/door_vectors.json, made once by an independent
// implementation (see tests/data/make_door_vectors.py). Header-only so that
// VELM_TEST_DATA_DIR comes from the test executable including it.

#include "platform/core/Bytes.h"
#include "tests/support/TestVectors.h"

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace velm::test {

inline const nlohmann::json& doorVectors() {
    static const nlohmann::json vectors = [] {
        std::ifstream file(std::string(VELM_TEST_DATA_DIR) + "/door_vectors.json");
        return nlohmann::json::parse(file);
    }();
    return vectors;
}

// Fails the running test when the name is unknown or of another kind.
inline Bytes doorVector(std::string_view name) {
    const auto found = doorVectors().find(std::string(name));
    if (found == doorVectors().end() || !found->is_string()) {
        ADD_FAILURE() << "no door byte vector named " << name;
        return {};
    }
    return fromHex(found->get<std::string>());
}

inline std::uint64_t doorNumber(std::string_view name) {
    const auto found = doorVectors().find(std::string(name));
    if (found == doorVectors().end() || !found->is_number_unsigned()) {
        ADD_FAILURE() << "no door number named " << name;
        return 0;
    }
    return found->get<std::uint64_t>();
}

} // namespace velm::test
