#pragma once

#include "platform/core/Bytes.h"
#include "protocol/WireError.h"

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace velm {

// Reads big-endian values from a borrowed buffer (which must outlive the
// reader). Every read checks the bytes that remain first and throws
// WireError::truncated without moving when they are too few.
class ByteReader {
public:
    explicit ByteReader(ByteView data) : data_(data) {}

    // Index of the next unread byte, counted from the start of the buffer.
    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return data_.size() - offset_; }

    std::uint8_t readUInt8() { return readInteger<std::uint8_t>(); }
    std::uint16_t readUInt16() { return readInteger<std::uint16_t>(); }
    std::uint32_t readUInt32() { return readInteger<std::uint32_t>(); }

    template <std::integral T>
    requires(!std::same_as<T, bool>) T readInteger() {
        require(sizeof(T));
        std::make_unsigned_t<T> value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value = static_cast<std::make_unsigned_t<T>>((value << 8) | data_[offset_ + i]);
        }
        offset_ += sizeof(T);
        return static_cast<T>(value);
    }

    float readFloat32() { return std::bit_cast<float>(readUInt32()); }

    // A copy of the next count bytes; a negative count is truncated input.
    Bytes readBytes(std::ptrdiff_t count);
    // A copy of every unread byte, possibly none. Never throws.
    Bytes readRemaining();
    // A u16 byte count, then that many bytes of UTF-8. A short count leaves
    // the reader where it was; a short or ill-formed body leaves it after the
    // count, respectively after the body.
    std::string readString();

private:
    void require(std::size_t count) const {
        if (count > remaining()) {
            throw WireError::truncated();
        }
    }

    ByteView data_;
    std::size_t offset_ = 0;
};

} // namespace velm
