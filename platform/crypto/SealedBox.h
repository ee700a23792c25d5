#pragma once

#include "platform/core/Bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velm {

// One AES-GCM message: nonce, ciphertext (as long as the plaintext, possibly empty)
// and tag. Its combined form is the three one after the other.
struct SealedBox {
    static constexpr std::size_t nonceLength = 12;
    static constexpr std::size_t tagLength = 16;
    static constexpr std::size_t minimumCombinedLength = nonceLength + tagLength;

    // Splits the combined form: the first 12 bytes are the nonce, the last 16 the tag,
    // the rest the ciphertext. Absent below 28 bytes. Every transport format that
    // carries a combined box parses it here; authenticity is checked when it is opened.
    static std::optional<SealedBox> fromCombined(ByteView combined);

    Bytes combined() const;

    std::array<std::uint8_t, nonceLength> nonce{};
    Bytes ciphertext;
    std::array<std::uint8_t, tagLength> tag{};
};

} // namespace velm
