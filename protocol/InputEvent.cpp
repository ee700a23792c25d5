#include "protocol/InputEvent.h"

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/UnicodeText.h"
#include "protocol/WireError.h"

namespace velm {
namespace {

// Writes the fields that follow the tag byte.
struct FieldWriter {
    ByteWriter& writer;

    void operator()(const InputEvent::PointerMove& e) const {
        writer.writeFloat32(e.x);
        writer.writeFloat32(e.y);
    }
    void operator()(const InputEvent::PointerDown& e) const { writer.writeUInt8(e.button.wireByte()); }
    void operator()(const InputEvent::PointerUp& e) const { writer.writeUInt8(e.button.wireByte()); }
    void operator()(const InputEvent::Scroll& e) const {
        writer.writeFloat32(e.dx);
        writer.writeFloat32(e.dy);
    }
    void operator()(const InputEvent::KeyDown& e) const { writer.writeInteger(e.hidUsage); }
    void operator()(const InputEvent::KeyUp& e) const { writer.writeInteger(e.hidUsage); }
    void operator()(const InputEvent::ModifierDown& e) const {
        writer.writeUInt8(static_cast<std::uint8_t>(e.modifier));
    }
    void operator()(const InputEvent::ModifierUp& e) const {
        writer.writeUInt8(static_cast<std::uint8_t>(e.modifier));
    }
    void operator()(const InputEvent::TextInput& e) const { writer.writeString(e.text); }
    void operator()(const InputEvent::Tap& e) const {
        writer.writeUInt8(e.button.wireByte());
        writer.writeFloat32(e.reach);
    }
};

Modifier readModifier(ByteReader& reader) {
    const std::uint8_t raw = reader.readUInt8();
    const auto modifier = modifierFromRaw(raw);
    if (!modifier) {
        throw WireError::unknownType(raw);
    }
    return *modifier;
}

PointerButton readButton(ByteReader& reader) {
    return PointerButton::fromWireByte(reader.readUInt8());
}

} // namespace

bool operator==(const InputEvent::TextInput& a, const InputEvent::TextInput& b) {
    return UnicodeText::canonicallyEqual(a.text, b.text);
}

Bytes InputEvent::encoded() const {
    ByteWriter writer(12);
    writer.writeUInt8(static_cast<std::uint8_t>(value_.index() + 1));
    std::visit(FieldWriter{writer}, value_);
    return std::move(writer).data();
}

InputEvent InputEvent::decoding(ByteView payload) {
    ByteReader reader(payload);
    const std::uint8_t tag = reader.readUInt8();
    switch (tag) {
    case 1: {
        const float x = reader.readFloat32();
        return PointerMove{x, reader.readFloat32()};
    }
    case 2:
        return PointerDown{readButton(reader)};
    case 3:
        return PointerUp{readButton(reader)};
    case 4: {
        const float dx = reader.readFloat32();
        return Scroll{dx, reader.readFloat32()};
    }
    case 5:
        return KeyDown{reader.readUInt16()};
    case 6:
        return KeyUp{reader.readUInt16()};
    case 7:
        return ModifierDown{readModifier(reader)};
    case 8:
        return ModifierUp{readModifier(reader)};
    case 9:
        return TextInput{reader.readString()};
    case 10: {
        const PointerButton button = readButton(reader);
        return Tap{button, reader.readFloat32()};
    }
    default:
        throw WireError::unknownType(tag);
    }
}

} // namespace velm
