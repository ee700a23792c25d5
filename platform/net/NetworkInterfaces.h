#pragma once

#include "platform/net/InterfaceAddress.h"

#include <asio/ip/address.hpp>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// This machine's network interfaces, read afresh from the system on every call; safe from
// any thread.
class NetworkInterfaces {
public:
    NetworkInterfaces() = delete;

    // Every IPv4 and IPv6 address of every interface, in the system's order; empty when the
    // list cannot be read.
    static std::vector<InterfaceAddress> addresses();

    // The names of the interfaces that carry this address, in the system's order
    // ("lo" for 127.0.0.1). An IPv4 address mapped into IPv6 is looked up as IPv4; an address
    // without a scope matches on every interface, a scoped one only on its own.
    static std::vector<std::string> namesOf(const IpAddress& address);

    // The name of the interface with this index, if there is one.
    static std::optional<std::string> nameOf(unsigned index);
};

// NetworkInterfaces::namesOf for an asio address, as the TLS layer holds it.
std::vector<std::string> interfaceNamesOf(const asio::ip::address& address);

} // namespace velm
