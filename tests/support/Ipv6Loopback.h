#pragma once

namespace velm::test {

// Whether this machine has the IPv6 loopback address (a container may have IPv4 alone).
bool hasIpv6Loopback();

} // namespace velm::test
