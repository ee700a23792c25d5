#pragma once

#include <asio/ip/address.hpp>
#include <string>
#include <vector>

namespace velm {

// The names of the interfaces that carry this address, in the system's order
// ("lo" for 127.0.0.1). An IPv4 address mapped into IPv6 is looked up as IPv4.
std::vector<std::string> interfaceNamesOf(const asio::ip::address& address);

} // namespace velm
