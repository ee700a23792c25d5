#pragma once

#include "platform/discovery/ServiceInstance.h"

#include <cstdint>
#include <string>
#include <variant>

namespace velm {

// Where an outgoing connection goes: a host and port, or an advertised service that has to be
// resolved to one first. A connection itself only ever dials a host and port.
struct Endpoint {
    struct HostPort {
        std::string host; // a name or a numeric address
        std::uint16_t port = 0;

        bool operator==(const HostPort&) const = default;
    };

    std::variant<HostPort, ServiceInstance> target;

    static Endpoint hostPort(std::string host, std::uint16_t port) {
        return {HostPort{std::move(host), port}};
    }
    static Endpoint service(ServiceInstance instance) { return {std::move(instance)}; }

    bool operator==(const Endpoint&) const = default;
};

} // namespace velm
