#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace velm {

// Where an outgoing connection goes. A Bonjour service name joins as a second case
// once the resolver exists; the connection itself only ever dials a host and port.
struct Endpoint {
    struct HostPort {
        std::string host; // a name or a numeric address
        std::uint16_t port = 0;

        bool operator==(const HostPort&) const = default;
    };

    std::variant<HostPort> target;

    static Endpoint hostPort(std::string host, std::uint16_t port) { return {HostPort{std::move(host), port}}; }

    bool operator==(const Endpoint&) const = default;
};

} // namespace velm
