#include "protocol/ByteWriter.h"

#include "platform/core/Utf8.h"

#include <string>

namespace velm {

void ByteWriter::writeString(std::string_view text) {
    std::string repaired;
    if (!Utf8::isValid(text)) {
        repaired = Utf8::repaired(text);
        text = repaired;
    }
    const std::size_t count = Utf8::cutLength(text, maxStringBytes);
    writeInteger(static_cast<std::uint16_t>(count));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    data_.insert(data_.end(), bytes, bytes + count);
}

} // namespace velm
