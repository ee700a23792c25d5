#include "protocol/ChannelFrame.h"

#include "protocol/ByteWriter.h"

namespace velm {

std::optional<Bytes> ChannelFrame::encode(std::uint8_t channel, ByteView payload) {
    if (payload.size() > maxPayloadLength) {
        return std::nullopt;
    }
    ByteWriter writer(payload.size() + 5);
    writer.writeInteger(static_cast<std::uint32_t>(payload.size() + 1));
    writer.writeUInt8(channel);
    writer.writeBytes(payload);
    return std::move(writer).data();
}

} // namespace velm
