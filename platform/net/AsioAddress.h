#pragma once

// Conversions between our address values and asio's, for the sources of platform/net.

#include "platform/net/IpAddress.h"
#include "platform/net/SocketAddress.h"

#include <asio/ip/address.hpp>
#include <asio/ip/udp.hpp>

namespace velm {

inline asio::ip::address toAsio(const IpAddress& address) {
    const ByteView bytes = address.bytes();
    if (address.isIpv4()) {
        asio::ip::address_v4::bytes_type raw{};
        std::copy(bytes.begin(), bytes.end(), raw.begin());
        return asio::ip::address_v4(raw);
    }
    asio::ip::address_v6::bytes_type raw{};
    std::copy(bytes.begin(), bytes.end(), raw.begin());
    return asio::ip::address_v6(raw, address.scopeId());
}

inline IpAddress fromAsio(const asio::ip::address& address) {
    if (address.is_v4()) {
        return IpAddress::ipv4(address.to_v4().to_bytes());
    }
    const asio::ip::address_v6 ipv6 = address.to_v6();
    return IpAddress::ipv6(ipv6.to_bytes()).withScope(ipv6.scope_id());
}

inline asio::ip::udp::endpoint toAsio(const SocketAddress& address) {
    return {toAsio(address.address), address.port};
}

inline SocketAddress fromAsio(const asio::ip::udp::endpoint& endpoint) {
    return {fromAsio(endpoint.address()), endpoint.port()};
}

} // namespace velm
