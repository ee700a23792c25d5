#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velm {

// The system's cryptographically secure random source.
class Random {
public:
    static void fill(std::span<std::uint8_t> bytes);
    static Bytes bytes(std::size_t count);
    static SecretBytes secret(std::size_t count);
    static std::uint64_t uint64();
};

} // namespace velm
