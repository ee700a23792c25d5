#pragma once

#include "platform/core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace velm {

// Standard Base64 (RFC 4648: "+" and "/", padded with "=", no line breaks).
class Base64 {
public:
    static std::string encode(ByteView bytes);

    // Strict: the text must be exactly what `encode` writes for some bytes. Whitespace, missing
    // or misplaced padding, characters outside the alphabet and non-zero bits in the unused
    // tail of the last group all give nothing.
    static std::optional<Bytes> decode(std::string_view text);
};

} // namespace velm
