#pragma once

#include "platform/core/Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace velm {

// HMAC-SHA256. The message is given in parts, so a label can be placed in front
// of the data without copying both into one buffer.
class Hmac {
public:
    static constexpr std::size_t codeLength = 32;
    using Code = std::array<std::uint8_t, codeLength>;

    static Code sha256(ByteView key, std::initializer_list<ByteView> message);

    // True only when `code` is exactly the 32-byte code of the message, compared in
    // constant time; a code of any other length is false.
    static bool isValidSha256(ByteView code, ByteView key, std::initializer_list<ByteView> message);
};

} // namespace velm
