#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "platform/core/Bytes.h"
#include "protocol/WireError.h"

namespace velm {

// Lets GoogleTest print an error by its message.
inline void PrintTo(const WireError& error, std::ostream* out) { *out << error.what(); }

namespace test {

// Bytes from hex digits; spaces are ignored ("00 01 ff").
inline Bytes hexBytes(std::string_view text) {
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9') {
            return static_cast<std::uint8_t>(c - '0');
        }
        if (c >= 'a' && c <= 'f') {
            return static_cast<std::uint8_t>(c - 'a' + 10);
        }
        if (c >= 'A' && c <= 'F') {
            return static_cast<std::uint8_t>(c - 'A' + 10);
        }
        throw std::invalid_argument("not a hex digit");
    };
    Bytes bytes;
    int pending = -1;
    for (char c : text) {
        if (c == ' ') {
            continue;
        }
        if (pending < 0) {
            pending = nibble(c);
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending << 4 | nibble(c)));
            pending = -1;
        }
    }
    if (pending >= 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    return bytes;
}

// Runs body and returns the WireError it throws; fails the test when it throws nothing.
template <typename Body>
WireError thrownWireError(Body&& body) {
    try {
        body();
    } catch (const WireError& error) {
        return error;
    }
    ADD_FAILURE() << "expected a WireError";
    return WireError::truncated();
}

} // namespace test
} // namespace velm
