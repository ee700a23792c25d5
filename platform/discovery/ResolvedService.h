#pragma once

#include <cstdint>
#include <string>

namespace velm {

// Where a service instance can be reached.
struct ResolvedService {
    std::string hostName; // the target host, without a trailing dot ("office-mac.local")
    // Numeric, ready to connect to without a name lookup ("192.168.1.20"); an IPv6 link-local
    // address carries its interface as a scope ("fe80::1%2").
    std::string address;
    std::uint16_t port = 0;
    int interfaceIndex = 0;

    bool operator==(const ResolvedService&) const = default;
};

} // namespace velm
