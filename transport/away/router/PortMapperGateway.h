#pragma once

#include <cstdint>
#include <string>

namespace velm {

// The router the port mapper talks to, as found by the search.
struct PortMapperGateway {
    std::string host;         // the address as written in the search answer's LOCATION
    std::uint16_t port = 80;  // the router's HTTP port
    std::string controlPath;  // path of the WAN connection service's control URL, starts with "/"
    std::string serviceType;  // URN of that service
    std::string localAddress; // our own IPv4 address on the route to the router

    bool operator==(const PortMapperGateway&) const = default;
};

} // namespace velm
