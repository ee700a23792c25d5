#pragma once

// Header-only so that VELM_TEST_DATA_DIR comes from the test executable including it.

#include "platform/core/Bytes.h"
#include "platform/core/Digits.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velm::test {

// Bytes from hexadecimal text; spaces are skipped so long vectors can be split.
inline Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    int high = -1;
    for (char digit : hex) {
        if (digit == ' ') {
            continue;
        }
        const auto value = Digits::parse(std::string_view(&digit, 1), 16, 1);
        if (!value) {
            throw std::invalid_argument("not a hex digit");
        }
        if (high < 0) {
            high = static_cast<int>(*value);
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | static_cast<int>(*value)));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    return bytes;
}

// Tampered copies of a valid value, for tests of what a check refuses.
inline Bytes flipped(Bytes bytes, std::size_t index) {
    bytes[index] ^= 0x01;
    return bytes;
}

inline Bytes extended(Bytes bytes) {
    bytes.push_back(0);
    return bytes;
}

inline Bytes asBytes(ByteView bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

#ifdef VELM_TEST_DATA_DIR
// A named vector from tests/data/transport_vectors.json, made once by an
// independent implementation (see tests/data/make_transport_vectors.py).
// Fails the running test when the name is unknown.
inline Bytes transportVector(std::string_view name) {
    static const nlohmann::json vectors = [] {
        std::ifstream file(std::string(VELM_TEST_DATA_DIR) + "/transport_vectors.json");
        return nlohmann::json::parse(file);
    }();
    const auto found = vectors.find(std::string(name));
    if (found == vectors.end()) {
        ADD_FAILURE() << "no test vector named " << name;
        return {};
    }
    return fromHex(found->get<std::string>());
}
#endif

} // namespace velm::test
