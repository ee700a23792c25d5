#include "platform/core/Utf8.h"

#include <cstdint>

namespace velm {
namespace {

// Length of the well-formed sequence at the start of bytes, or 0 when it is
// ill-formed; then matched holds how many bytes form its maximal subpart.
std::size_t sequenceLength(const std::uint8_t* bytes, std::size_t available, std::size_t& matched) {
    const std::uint8_t lead = bytes[0];
    matched = 1;
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
        if (lead == 0xE0) {
            low = 0xA0; // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90; // no overlong forms
        } else if (lead == 0xF4) {
            high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= available || bytes[i] < low || bytes[i] > high) {
            return 0;
        }
        matched = i + 1;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

constexpr bool isContinuation(char byte) {
    return (static_cast<std::uint8_t>(byte) & 0xC0) == 0x80;
}

} // namespace

bool Utf8::isValid(ByteView bytes) {
    std::size_t i = 0;
    std::size_t matched = 0;
    while (i < bytes.size()) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = sequenceLength(bytes.data() + i, bytes.size() - i, matched);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

bool Utf8::isValid(std::string_view text) {
    return isValid(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::size_t Utf8::cutLength(std::string_view validText, std::size_t limit) {
    if (validText.size() <= limit) {
        return validText.size();
    }
    std::size_t cut = limit;
    while (cut > 0 && isContinuation(validText[cut])) {
        --cut;
    }
    return cut;
}

void Utf8::append(std::string& text, char32_t point) {
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::u32string Utf8::codePoints(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::u32string points;
    std::size_t i = 0;
    std::size_t matched = 0;
    while (i < text.size()) {
        const std::size_t length = sequenceLength(bytes + i, text.size() - i, matched);
        if (length == 0) {
            break;
        }
        // The lead byte keeps 7, 5, 4 or 3 bits; each continuation byte adds 6.
        char32_t point = length == 1 ? bytes[i] : bytes[i] & (0x7Fu >> length);
        for (std::size_t next = 1; next < length; ++next) {
            point = point << 6 | (bytes[i + next] & 0x3Fu);
        }
        points.push_back(point);
        i += length;
    }
    return points;
}

std::string Utf8::repaired(std::string_view text) {
    if (isValid(text)) {
        return std::string(text);
    }
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::string result;
    result.reserve(text.size() + 16);
    std::size_t i = 0;
    std::size_t matched = 0;
    while (i < text.size()) {
        const std::size_t length = sequenceLength(bytes + i, text.size() - i, matched);
        if (length == 0) {
            result.append(replacement);
            i += matched;
        } else {
            result.append(text.substr(i, length));
            i += length;
        }
    }
    return result;
}

} // namespace velm
