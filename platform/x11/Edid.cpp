#include "platform/x11/Edid.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace velm {
namespace {

constexpr std::array<std::uint8_t, 8> header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// The four 18-byte descriptors of the base block; a display descriptor starts with three zero bytes
// and its tag, and carries up to 13 bytes of text ended by a line feed.
constexpr std::array<std::size_t, 4> descriptors = {54, 72, 90, 108};
constexpr std::uint8_t monitorNameTag = 0xFC;
constexpr std::size_t textOffset = 5;
constexpr std::size_t textLength = 13;

std::string descriptorText(ByteView descriptor) {
    std::string text;
    for (const std::uint8_t byte : descriptor.subspan(textOffset, textLength)) {
        if (byte == '\n' || byte == 0) {
            break;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            text.push_back(static_cast<char>(byte));
        }
    }
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::optional<Edid> Edid::parse(ByteView bytes) {
    if (bytes.size() < blockSize) {
        return std::nullopt;
    }
    const ByteView block = bytes.first(blockSize);
    if (!std::equal(header.begin(), header.end(), block.begin()) ||
        std::accumulate(block.begin(), block.end(), 0u) % 256 != 0) {
        return std::nullopt;
    }
    Edid edid;
    edid.vendor = static_cast<std::uint16_t>(block[8] << 8 | block[9]);
    for (const std::size_t offset : descriptors) {
        const ByteView descriptor = block.subspan(offset, 18);
        if (descriptor[0] == 0 && descriptor[1] == 0 && descriptor[2] == 0 &&
            descriptor[3] == monitorNameTag) {
            edid.productName = descriptorText(descriptor);
            break;
        }
    }
    return edid;
}

} // namespace velm
