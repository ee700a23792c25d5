#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velm {

// Which way a sealed datagram travels. The direction is part of the nonce, so a
// datagram opens only as the direction it was sealed for, and the two directions
// under one key never share a nonce.
enum class PacketDirection : std::uint8_t {
    hostToClient = 1,
    clientToHost = 2,
};

// The direction with this raw value; other values make no direction.
std::optional<PacketDirection> packetDirection(std::uint8_t raw);

// The 12-byte AES-GCM nonce of a datagram: the direction's raw value, three zero
// bytes, then the counter big-endian. It is never sent.
class PacketNonce {
public:
    static constexpr std::size_t length = 12;
    using Bytes = std::array<std::uint8_t, length>;

    static Bytes make(PacketDirection direction, std::uint64_t counter);
};

} // namespace velm
