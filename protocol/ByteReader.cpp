#include "protocol/ByteReader.h"

#include "platform/core/Utf8.h"

namespace velm {

Bytes ByteReader::readBytes(std::ptrdiff_t count) {
    if (count < 0) {
        throw WireError::truncated();
    }
    const auto length = static_cast<std::size_t>(count);
    require(length);
    const auto first = data_.begin() + static_cast<std::ptrdiff_t>(offset_);
    Bytes bytes(first, first + count);
    offset_ += length;
    return bytes;
}

Bytes ByteReader::readRemaining() {
    Bytes bytes(data_.begin() + static_cast<std::ptrdiff_t>(offset_), data_.end());
    offset_ = data_.size();
    return bytes;
}

std::string ByteReader::readString() {
    const std::size_t count = readUInt16();
    require(count);
    const ByteView body = data_.subspan(offset_, count);
    offset_ += count;
    if (!Utf8::isValid(body)) {
        throw WireError::invalidString();
    }
    return toString(body);
}

} // namespace velm
