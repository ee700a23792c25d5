#pragma once

#include "platform/core/Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace velm {

class Sha256 {
public:
    static constexpr std::size_t digestLength = 32;
    using Digest = std::array<std::uint8_t, digestLength>;

    // The digest of the parts one after the other, as if they were one run of bytes.
    static Digest digest(std::initializer_list<ByteView> parts);
};

} // namespace velm
