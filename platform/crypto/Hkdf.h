#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"

#include <cstddef>
#include <optional>

namespace velm {

// HKDF with SHA-256 (extract, then expand). An empty salt is allowed.
class Hkdf {
public:
    // The longest output the construction can give: 255 blocks of 32 bytes.
    static constexpr std::size_t maxLength = 255 * 32;

    // Absent for a length of 0 or above maxLength.
    static std::optional<SecretBytes> sha256(ByteView keyMaterial, ByteView salt, ByteView info,
                                             std::size_t length);
};

} // namespace velm
