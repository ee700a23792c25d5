#pragma once

#include "platform/core/Bytes.h"

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

namespace velm {

// Appends big-endian values to one growing buffer. Nothing written is patched
// afterwards, and no operation fails.
class ByteWriter {
public:
    // The longest string byte count a u16 length can carry.
    static constexpr std::size_t maxStringBytes = 65535;

    ByteWriter() = default;
    explicit ByteWriter(std::size_t capacity) { data_.reserve(capacity); }

    void writeUInt8(std::uint8_t value) { data_.push_back(value); }

    // Exactly the type's width, most significant byte first; signed values as
    // their two's-complement bits.
    template <std::integral T>
    requires(!std::same_as<T, bool>) void writeInteger(T value) {
        auto bits = static_cast<std::make_unsigned_t<T>>(value);
        for (int shift = 8 * (static_cast<int>(sizeof(T)) - 1); shift >= 0; shift -= 8) {
            data_.push_back(static_cast<std::uint8_t>(bits >> shift));
        }
    }

    // The binary32 bit pattern as it is: negative zero, infinities and NaN
    // payloads travel unchanged.
    void writeFloat32(float value) { writeInteger(std::bit_cast<std::uint32_t>(value)); }

    void writeBytes(ByteView bytes) { data_.insert(data_.end(), bytes.begin(), bytes.end()); }

    // A u16 byte count, then the UTF-8 bytes. Text longer than 65535 bytes is
    // cut after its last whole character that fits, so the reader always
    // accepts what is written; ill-formed bytes are written as U+FFFD.
    void writeString(std::string_view text);

    const Bytes& data() const& { return data_; }
    Bytes data() && { return std::move(data_); }

private:
    Bytes data_;
};

} // namespace velm
