#pragma once

#include <cstdint>
#include <string>

namespace velm {

// Where a connection dials: a host (a name or a numeric address) and a port.
struct HostPort {
    std::string host;
    std::uint16_t port = 0;

    bool operator==(const HostPort&) const = default;
};

} // namespace velm
