#include "platform/net/NetworkInterfaces.h"

#include <algorithm>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace velm {

namespace {

asio::ip::address unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

bool carries(const sockaddr* candidate, const asio::ip::address& address) {
    if (candidate == nullptr) {
        return false;
    }
    if (candidate->sa_family == AF_INET && address.is_v4()) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(candidate);
        const auto bytes = address.to_v4().to_bytes();
        return std::memcmp(bytes.data(), &ipv4->sin_addr.s_addr, bytes.size()) == 0;
    }
    if (candidate->sa_family == AF_INET6 && address.is_v6()) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(candidate);
        const auto bytes = address.to_v6().to_bytes();
        return std::memcmp(bytes.data(), ipv6->sin6_addr.s6_addr, bytes.size()) == 0;
    }
    return false;
}

} // namespace

std::vector<std::string> interfaceNamesOf(const asio::ip::address& address) {
    const asio::ip::address wanted = unmapped(address);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<std::string> names;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (carries(entry->ifa_addr, wanted) &&
            std::find(names.begin(), names.end(), entry->ifa_name) == names.end()) {
            names.emplace_back(entry->ifa_name);
        }
    }
    freeifaddrs(list);
    return names;
}

} // namespace velm
