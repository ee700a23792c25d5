#pragma once

#include <string>

namespace velm::test {

// Runs the current test again in a child process inside a network namespace of its own, in which
// only loopback exists (up, with multicast routed to it). There the test may bind any port without
// meeting other programs, and its multicast cannot leave the machine.
//
// In the parent this runs the child and expects it to pass, then returns false; in the child it
// returns true. Where no namespace can be made it skips the test, saying why, and returns false.
bool insidePrivateNetwork();

// Inside a private network: gives the link-local IPv6 `address` to loopback and to "velm0", one end
// of a new pair of virtual links, so that two interfaces share it; fails the test when it cannot.
bool shareLinkLocalAddress(const std::string& address);

} // namespace velm::test

// The first line of a test that runs only in a private network.
#define VELM_ONLY_IN_PRIVATE_NETWORK()                                                                       \
    if (!::velm::test::insidePrivateNetwork())                                                               \
    return
