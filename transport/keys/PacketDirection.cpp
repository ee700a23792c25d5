#include "transport/keys/PacketDirection.h"

namespace velm {

std::optional<PacketDirection> packetDirection(std::uint8_t raw) {
    switch (raw) {
    case static_cast<std::uint8_t>(PacketDirection::hostToClient):
        return PacketDirection::hostToClient;
    case static_cast<std::uint8_t>(PacketDirection::clientToHost):
        return PacketDirection::clientToHost;
    default:
        return std::nullopt;
    }
}

PacketNonce::Bytes PacketNonce::make(PacketDirection direction, std::uint64_t counter) {
    Bytes nonce{};
    nonce[0] = static_cast<std::uint8_t>(direction);
    for (std::size_t index = 0; index < 8; ++index) {
        nonce[length - 1 - index] = static_cast<std::uint8_t>(counter >> (8 * index));
    }
    return nonce;
}

} // namespace velm
