#include "transport/away/LossyUtf8.h"

#include <cstddef>
#include <cstdint>

namespace velm {
namespace {

constexpr const char* replacement = "\xEF\xBF\xBD";

// The allowed range of the second byte depends on the lead byte; this keeps out
// overlong forms, surrogates and code points above U+10FFFF.
bool secondByteFits(std::uint8_t lead, std::uint8_t byte) {
    switch (lead) {
    case 0xE0:
        return byte >= 0xA0 && byte <= 0xBF;
    case 0xED:
        return byte >= 0x80 && byte <= 0x9F;
    case 0xF0:
        return byte >= 0x90 && byte <= 0xBF;
    case 0xF4:
        return byte >= 0x80 && byte <= 0x8F;
    default:
        return byte >= 0x80 && byte <= 0xBF;
    }
}

std::size_t sequenceLength(std::uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

} // namespace

std::string LossyUtf8::decode(ByteView bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::uint8_t lead = bytes[at];
        const std::size_t length = sequenceLength(lead);
        if (length == 1) {
            text.push_back(static_cast<char>(lead));
            ++at;
            continue;
        }
        if (length == 0) {
            text += replacement;
            ++at;
            continue;
        }
        // Count how much of the sequence is well formed; a broken sequence is
        // replaced once and decoding resumes at the byte that broke it.
        std::size_t good = 1;
        while (good < length && at + good < bytes.size()) {
            const std::uint8_t byte = bytes[at + good];
            const bool fits = good == 1 ? secondByteFits(lead, byte) : (byte >= 0x80 && byte <= 0xBF);
            if (!fits) {
                break;
            }
            ++good;
        }
        if (good == length) {
            text.append(reinterpret_cast<const char*>(bytes.data() + at), length);
        } else {
            text += replacement;
        }
        at += good;
    }
    return text;
}

} // namespace velm
