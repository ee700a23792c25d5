#pragma once

#include <string>

namespace velm {

// One advertised service as a browser finds it. Together the fields name it uniquely: the same
// instance seen on two interfaces, or over IPv4 and IPv6, is two instances.
struct ServiceInstance {
    // Which IP family the instance was seen over; `any` when not known.
    enum class Family { any, ipv4, ipv6 };

    std::string name;       // the instance name, as people read it ("Office Mac")
    std::string type;       // "_velm._tcp"
    std::string domain;     // "local"; empty means the default domain
    int interfaceIndex = 0; // 0 means any interface
    Family family = Family::any;

    bool operator==(const ServiceInstance&) const = default;
};

} // namespace velm
