#pragma once

#include "platform/core/Bytes.h"

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace velm::fuzz {

// Takes typed values off the front of a fuzzer's input. An input that runs dry gives zeros and
// empty views, so every input is a valid script of some length.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    bool empty() const { return rest_.empty(); }

    template <std::integral T> T integer() {
        T value{};
        const std::size_t count = std::min(sizeof value, rest_.size());
        std::memcpy(&value, rest_.data(), count);
        rest_ = rest_.subspan(count);
        return value;
    }

    std::uint8_t byte() { return integer<std::uint8_t>(); }
    bool flag() { return (byte() & 1) != 0; }

    // Any bit pattern, NaN and infinities included.
    double number() {
        const auto bits = integer<std::uint64_t>();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Up to `count` bytes.
    ByteView bytes(std::size_t count) {
        const ByteView taken = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(taken.size());
        return taken;
    }

    // A piece prefixed by its length in two bytes, little-endian.
    ByteView piece() { return bytes(integer<std::uint16_t>()); }

    std::string text(std::size_t count) {
        const ByteView taken = bytes(count);
        return std::string(taken.begin(), taken.end());
    }

    ByteView rest() { return bytes(rest_.size()); }

private:
    ByteView rest_;
};

// Builds inputs in the layout FuzzInput reads, for seed corpora.
class FuzzScript {
public:
    template <std::integral T> FuzzScript& integer(T value) {
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
        bytes_.insert(bytes_.end(), raw, raw + sizeof value);
        return *this;
    }
    FuzzScript& byte(std::uint8_t value) { return integer(value); }
    FuzzScript& number(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return integer(bits);
    }
    FuzzScript& bytes(ByteView value) {
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        return *this;
    }
    FuzzScript& text(std::string_view value) {
        return bytes(ByteView(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
    }
    FuzzScript& piece(ByteView value) {
        integer(static_cast<std::uint16_t>(value.size()));
        return bytes(value.first(std::min<std::size_t>(value.size(), 0xFFFF)));
    }

    Bytes take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

} // namespace velm::fuzz
