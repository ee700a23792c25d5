#include "protocol/ClipboardMessage.h"

#include "platform/core/Utf8.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/UnicodeText.h"
#include "protocol/WireError.h"

#include <string_view>

namespace velm {
namespace {

constexpr std::uint8_t subscribeTag = 0;
constexpr std::uint8_t textTag = 1;
constexpr std::uint8_t imageTag = 2;

std::optional<Bytes> tagged(std::uint8_t tag, ByteView content) {
    ByteWriter writer(content.size() + 1);
    writer.writeUInt8(tag);
    writer.writeBytes(content);
    return std::move(writer).data();
}

ByteView bytesOf(std::string_view text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

} // namespace

bool operator==(const ClipboardMessage::Text& a, const ClipboardMessage::Text& b) {
    return UnicodeText::canonicallyEqual(a.text, b.text);
}

std::optional<Bytes> ClipboardMessage::encoded() const {
    if (const auto* subscribe = get<Subscribe>()) {
        const std::uint8_t flag = subscribe->enabled ? 1 : 0;
        return tagged(subscribeTag, ByteView(&flag, 1));
    }
    if (const auto* text = get<Text>()) {
        if (!Utf8::isValid(text->text)) {
            const std::string repaired = Utf8::repaired(text->text);
            return ClipboardMessage::text(repaired).encoded();
        }
        if (text->text.size() > maxTextBytes) {
            return std::nullopt;
        }
        return tagged(textTag, bytesOf(text->text));
    }
    const Bytes& image = std::get<Image>(value_).data;
    if (image.empty() || image.size() > maxImageBytes) {
        return std::nullopt;
    }
    return tagged(imageTag, image);
}

ClipboardMessage ClipboardMessage::decoding(ByteView payload) {
    ByteReader reader(payload);
    const std::uint8_t tag = reader.readUInt8();
    switch (tag) {
    case subscribeTag:
        return Subscribe{reader.readUInt8() != 0};
    case textTag: {
        if (reader.remaining() > maxTextBytes) {
            throw WireError::frameTooLarge(static_cast<std::int64_t>(reader.remaining()));
        }
        const ByteView rest = payload.subspan(reader.offset());
        if (!Utf8::isValid(rest)) {
            throw WireError::invalidString();
        }
        return Text{toString(rest)};
    }
    case imageTag:
        if (reader.remaining() == 0) {
            throw WireError::truncated();
        }
        if (reader.remaining() > maxImageBytes) {
            throw WireError::frameTooLarge(static_cast<std::int64_t>(reader.remaining()));
        }
        return Image{reader.readRemaining()};
    default:
        throw WireError::unknownType(tag);
    }
}

} // namespace velm
