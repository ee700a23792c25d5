#pragma once

#include "platform/net/IpAddress.h"

#include <optional>
#include <string>

namespace velm {

// One IPv4 or IPv6 address of a network interface, as the system lists it.
struct InterfaceAddress {
    std::string name;
    bool isUp = false;
    IpAddress address;
    // The netmask, of the address's family; absent when the system gives none.
    std::optional<IpAddress> netmask;
};

} // namespace velm
