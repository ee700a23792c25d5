#include "platform/core/Utf8.h"

#include <cstddef>
#include <cstdint>

namespace velm {
namespace {

// The length of the well-formed sequence that starts at `at`, or the length of its maximal
// ill-formed subpart negated (at least one byte) when it is not well-formed.
long sequenceAt(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong below U+0800
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // overlong below U+10000
        if (lead == 0xF4) high = 0x8F; // above U+10FFFF
    } else {
        return -1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size()) {
            return -static_cast<long>(i);
        }
        const std::uint8_t next = byte(at + i);
        const bool fits = i == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        if (!fits) {
            return -static_cast<long>(i);
        }
    }
    return static_cast<long>(length);
}

} // namespace

bool Utf8::isValid(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const long length = sequenceAt(bytes, at);
        if (length < 0) {
            return false;
        }
        at += static_cast<std::size_t>(length);
    }
    return true;
}

std::string Utf8::repaired(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const long length = sequenceAt(bytes, at);
        if (length > 0) {
            text.append(bytes.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        } else {
            text.append(replacement);
            at += static_cast<std::size_t>(-length);
        }
    }
    return text;
}

} // namespace velm
