#pragma once

#include "platform/core/Bytes.h"
#include "protocol/WireError.h"
#include "protocol/json/Json.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velm {

// Lets GoogleTest print an error by its message.
inline void PrintTo(const WireError& error, std::ostream* out) {
    *out << error.what();
}

namespace test {

// Bytes from hex digits; spaces are ignored ("00 01 ff").
inline Bytes hexBytes(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c != ' ')
            digits += c;
    }
    if (digits.size() % 2 != 0)
        throw std::invalid_argument("odd number of hex digits");
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Runs body and returns the WireError it throws; fails the test when it throws nothing.
template <typename Body> WireError thrownWireError(Body&& body) {
    try {
        body();
    } catch (const WireError& error) {
        return error;
    }
    ADD_FAILURE() << "expected a WireError";
    return WireError::truncated();
}

inline std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    text.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// The text with the first occurrence of from replaced by to.
inline std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string result(text);
    result.replace(result.find(from), from.size(), to);
    return result;
}

// The JSON text of a value.
std::string encoded(const auto& value) {
    return toString(Json::encode(value));
}

} // namespace test
} // namespace velm
