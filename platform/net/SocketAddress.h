#pragma once

#include "platform/net/IpAddress.h"

#include <compare>
#include <cstdint>

namespace velm {

// A numeric address and a port: where a datagram comes from or goes to.
struct SocketAddress {
    IpAddress address;
    std::uint16_t port = 0;

    auto operator<=>(const SocketAddress&) const = default;
};

} // namespace velm
