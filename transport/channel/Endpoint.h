#pragma once

#include "platform/discovery/ServiceInstance.h"
#include "platform/net/HostPort.h"

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace velm {

// Where an outgoing channel goes: a host and port, or an advertised service that is resolved
// to one first. Only a host and port is ever dialled.
struct Endpoint {
    std::variant<HostPort, ServiceInstance> target;

    static Endpoint hostPort(std::string host, std::uint16_t port) {
        return {HostPort{std::move(host), port}};
    }
    static Endpoint service(ServiceInstance instance) { return {std::move(instance)}; }

    bool operator==(const Endpoint&) const = default;
};

} // namespace velm
