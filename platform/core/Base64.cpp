#include "platform/core/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace velm {
namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t notInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(notInAlphabet);
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

} // namespace

std::string Base64::encode(ByteView bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t at = 0;
    for (; at + 3 <= bytes.size(); at += 3) {
        const std::uint32_t group =
            std::uint32_t{bytes[at]} << 16 | std::uint32_t{bytes[at + 1]} << 8 | bytes[at + 2];
        text += alphabet[group >> 18 & 0x3F];
        text += alphabet[group >> 12 & 0x3F];
        text += alphabet[group >> 6 & 0x3F];
        text += alphabet[group & 0x3F];
    }
    const std::size_t left = bytes.size() - at;
    if (left > 0) {
        std::uint32_t group = std::uint32_t{bytes[at]} << 16;
        if (left == 2) {
            group |= std::uint32_t{bytes[at + 1]} << 8;
        }
        text += alphabet[group >> 18 & 0x3F];
        text += alphabet[group >> 12 & 0x3F];
        text += left == 2 ? alphabet[group >> 6 & 0x3F] : '=';
        text += '=';
    }
    return text;
}

std::optional<Bytes> Base64::decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    // Room for the whole result, so the bytes never move; on a fault what was decoded so far (perhaps
    // key material) is wiped before it is freed.
    Bytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    const auto refuse = [&bytes] {
        explicit_bzero(bytes.data(), bytes.size());
        return std::nullopt;
    };
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const std::size_t symbols = last ? 4 - padding : 4;
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            std::uint8_t value = 0;
            if (i < symbols) {
                value = decodeTable[static_cast<std::uint8_t>(text[at + i])];
                if (value == notInAlphabet) {
                    return refuse();
                }
            }
            group = group << 6 | value;
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (symbols >= 3)
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (symbols == 4)
            bytes.push_back(static_cast<std::uint8_t>(group));
        // The bits below the last whole byte must be zero, or two texts would mean the same bytes.
        if ((symbols == 2 && (group & 0xFFFF) != 0) || (symbols == 3 && (group & 0xFF) != 0)) {
            return refuse();
        }
    }
    return bytes;
}

} // namespace velm
