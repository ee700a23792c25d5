#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velm {

// Where a connection dials: a host (a name or a numeric address) and a port.
struct HostPort {
    std::string host;
    std::uint16_t port = 0;

    bool operator==(const HostPort&) const = default;
};

// Whether the system's resolver takes `host` for the peer it names: it reads a C string, so a NUL
// would hide what follows it and resolve another name, and it takes an empty name for this machine.
inline bool namesAPeer(std::string_view host) {
    return !host.empty() && host.find('\0') == std::string_view::npos;
}

} // namespace velm
