#include "platform/net/NetworkInterfaces.h"

#include "platform/net/AsioAddress.h"

#include <algorithm>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace velm {

namespace {

// The address of `family` that a socket address holds, read as that family whatever the
// socket address says (the system leaves the family of some netmasks unset).
IpAddress addressOf(const sockaddr* address, IpAddress::Family family) {
    if (family == IpAddress::Family::ipv4) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&ipv4->sin_addr);
        return *IpAddress::fromBytes(family, ByteView(bytes, IpAddress::ipv4Length));
    }
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
    return *IpAddress::fromBytes(family, ByteView(ipv6->sin6_addr.s6_addr, IpAddress::ipv6Length));
}

// An interface's own address, with the scope the system gives it (link-local ones have one).
IpAddress interfaceAddressOf(const sockaddr* address, IpAddress::Family family) {
    const IpAddress plain = addressOf(address, family);
    if (family == IpAddress::Family::ipv4) {
        return plain;
    }
    return plain.withScope(reinterpret_cast<const sockaddr_in6*>(address)->sin6_scope_id);
}

// Whether two addresses name the same one: a side without a scope leaves the interface open.
bool sameAddress(const IpAddress& a, const IpAddress& b) {
    return a.scopeId() == 0 || b.scopeId() == 0 ? a.withScope(0) == b.withScope(0) : a == b;
}

std::optional<IpAddress::Family> familyOf(const sockaddr* address) {
    if (address == nullptr) {
        return std::nullopt;
    }
    switch (address->sa_family) {
    case AF_INET:
        return IpAddress::Family::ipv4;
    case AF_INET6:
        return IpAddress::Family::ipv6;
    default:
        return std::nullopt;
    }
}

} // namespace

std::vector<InterfaceAddress> NetworkInterfaces::addresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const std::optional<IpAddress::Family> family = familyOf(entry->ifa_addr);
        if (!family || entry->ifa_name == nullptr) {
            continue;
        }
        InterfaceAddress address{entry->ifa_name, (entry->ifa_flags & IFF_UP) != 0,
                                 interfaceAddressOf(entry->ifa_addr, *family), std::nullopt};
        if (entry->ifa_netmask != nullptr) {
            address.netmask = addressOf(entry->ifa_netmask, *family);
        }
        addresses.push_back(std::move(address));
    }
    freeifaddrs(list);
    return addresses;
}

std::vector<std::string> NetworkInterfaces::namesOf(const IpAddress& address) {
    const IpAddress wanted = address.mappedIpv4().value_or(address);
    std::vector<std::string> names;
    for (const InterfaceAddress& entry : addresses()) {
        if (sameAddress(entry.address, wanted) &&
            std::find(names.begin(), names.end(), entry.name) == names.end()) {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::optional<std::string> NetworkInterfaces::nameOf(unsigned index) {
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(index, name) == nullptr) {
        return std::nullopt;
    }
    return std::string(name);
}

std::vector<std::string> interfaceNamesOf(const asio::ip::address& address) {
    return NetworkInterfaces::namesOf(fromAsio(address));
}

} // namespace velm
