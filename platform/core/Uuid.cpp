#include "platform/core/Uuid.h"

#include "platform/core/Digits.h"

#include <uuid/uuid.h>

namespace velm {
namespace {

constexpr std::size_t textLength = 36;

constexpr bool isHyphenPosition(std::size_t at) {
    return at == 8 || at == 13 || at == 18 || at == 23;
}

} // namespace

Uuid Uuid::random() {
    Bytes16 bytes;
    uuid_generate_random(bytes.data());
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != textLength) {
        return std::nullopt;
    }
    Bytes16 bytes{};
    std::size_t nibble = 0;
    for (std::size_t at = 0; at < textLength; ++at) {
        if (isHyphenPosition(at)) {
            if (text[at] != '-')
                return std::nullopt;
            continue;
        }
        const auto value = Digits::parse(text.substr(at, 1), 16, 1);
        if (!value)
            return std::nullopt;
        bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | static_cast<int>(*value));
        ++nibble;
    }
    return Uuid(bytes);
}

std::string Uuid::string() const {
    static constexpr std::string_view digits = "0123456789ABCDEF";
    std::string text;
    text.reserve(textLength);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes_[i] >> 4];
        text += digits[bytes_[i] & 0x0F];
    }
    return text;
}

} // namespace velm
