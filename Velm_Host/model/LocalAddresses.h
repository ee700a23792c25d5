#pragma once

#include "platform/net/InterfaceAddress.h"
#include "transport/discovery/HostListener.h"

#include <string>
#include <vector>

namespace velm {

// An address a device can type to reach the host by hand.
struct LocalAddress {
    // "192.168.1.20:50123"
    std::string address;
    // Inside 100.64.0.0/10, where overlay networks (VPNs) put their members.
    bool isVPN = false;

    friend bool operator==(const LocalAddress&, const LocalAddress&) = default;
};

// The IPv4 addresses of the interfaces that are up, other than loopback and link-local ones, with
// the advertised port, in the system's order; none unless the listener is advertising.
std::vector<LocalAddress> localAddresses(const HostListener::State& listener,
                                         const std::vector<InterfaceAddress>& interfaces);

} // namespace velm
