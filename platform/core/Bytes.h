#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// An owned run of bytes ("Data" on the wire) and a borrowed view of one.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline Bytes toBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline std::string toString(ByteView bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace velm
