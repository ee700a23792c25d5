#include "transport/away/HomeNetwork.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdint>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace velm {

namespace {

constexpr std::array<std::string_view, 4> lanPrefixes = {"en", "eth", "wl", "br"};
constexpr std::array<std::string_view, 6> tunnelPrefixes = {"tun", "tap", "wg", "ppp", "ipsec", "utun"};

template <std::size_t count>
bool beginsWithAny(std::string_view name, const std::array<std::string_view, count>& prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [name](std::string_view prefix) { return name.starts_with(prefix); });
}

bool isLanName(std::string_view name) {
    return HomeNetwork::kindOf(name) == HomeNetwork::InterfaceKind::lan;
}

int addressFamily(HomeNetwork::Family family) {
    return family == HomeNetwork::Family::ipv4 ? AF_INET : AF_INET6;
}

// The address bytes of a socket address of the given family.
Bytes addressBytes(const sockaddr* address, HomeNetwork::Family family) {
    if (family == HomeNetwork::Family::ipv4) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&ipv4->sin_addr);
        return Bytes(bytes, bytes + sizeof(ipv4->sin_addr));
    }
    const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
    return Bytes(ipv6->sin6_addr.s6_addr, ipv6->sin6_addr.s6_addr + sizeof(ipv6->sin6_addr.s6_addr));
}

// A peer host as text: an IPv4 or IPv6 literal, the latter perhaps with a scope.
struct Address {
    HomeNetwork::Family family;
    Bytes bytes;
    std::optional<std::string> scope;
};

// The interface a scope names: itself, or the interface with that index.
std::optional<std::string> scopeName(std::string_view scope) {
    if (scope.empty()) {
        return std::nullopt;
    }
    if (!std::all_of(scope.begin(), scope.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::string(scope);
    }
    if (scope.size() > 9) {
        return std::nullopt;
    }
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(static_cast<unsigned>(std::stoul(std::string(scope))), name) == nullptr) {
        return std::nullopt;
    }
    return std::string(name);
}

std::optional<Address> parseAddress(std::string_view host) {
    const std::size_t percent = host.find('%');
    const std::string literal(host.substr(0, percent));
    in_addr ipv4{};
    if (percent == std::string_view::npos && inet_pton(AF_INET, literal.c_str(), &ipv4) == 1) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&ipv4);
        return Address{HomeNetwork::Family::ipv4, Bytes(bytes, bytes + sizeof(ipv4)), std::nullopt};
    }
    in6_addr ipv6{};
    if (inet_pton(AF_INET6, literal.c_str(), &ipv6) == 1) {
        std::optional<std::string> scope;
        if (percent != std::string_view::npos) {
            scope = scopeName(host.substr(percent + 1));
        }
        return Address{HomeNetwork::Family::ipv6, Bytes(ipv6.s6_addr, ipv6.s6_addr + sizeof(ipv6.s6_addr)),
                       scope};
    }
    return std::nullopt;
}

bool isV4Mapped(ByteView bytes) {
    return std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
           bytes[10] == 0xff && bytes[11] == 0xff;
}

bool isLinkLocal(ByteView bytes) {
    return bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80;
}

bool inAnyPrefix(ByteView bytes, HomeNetwork::Family family,
                 const std::optional<std::vector<HomeNetwork::Prefix>>& given) {
    const auto holdsIt = [bytes](const HomeNetwork::Prefix& prefix) { return prefix.contains(bytes); };
    if (given) {
        return std::any_of(given->begin(), given->end(), holdsIt);
    }
    const std::vector<HomeNetwork::Prefix> read = HomeNetwork::localPrefixes(family);
    return std::any_of(read.begin(), read.end(), holdsIt);
}

} // namespace

bool HomeNetwork::Prefix::contains(ByteView candidate) const {
    if (candidate.size() != address.size() || mask.size() != address.size()) {
        return false;
    }
    for (std::size_t index = 0; index < candidate.size(); ++index) {
        if ((candidate[index] & mask[index]) != (address[index] & mask[index])) {
            return false;
        }
    }
    return true;
}

HomeNetwork::InterfaceKind HomeNetwork::kindOf(std::string_view interfaceName) {
    if (beginsWithAny(interfaceName, tunnelPrefixes)) {
        return InterfaceKind::tunnel;
    }
    if (beginsWithAny(interfaceName, lanPrefixes)) {
        return InterfaceKind::lan;
    }
    return InterfaceKind::other;
}

std::vector<HomeNetwork::Prefix> HomeNetwork::localPrefixes(Family family) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<Prefix> prefixes;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_UP) == 0 || entry->ifa_name == nullptr || !isLanName(entry->ifa_name) ||
            entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr ||
            entry->ifa_addr->sa_family != addressFamily(family)) {
            continue;
        }
        Prefix prefix{addressBytes(entry->ifa_addr, family), addressBytes(entry->ifa_netmask, family)};
        if (std::any_of(prefix.mask.begin(), prefix.mask.end(), [](std::uint8_t b) { return b != 0; })) {
            prefixes.push_back(std::move(prefix));
        }
    }
    freeifaddrs(list);
    return prefixes;
}

bool HomeNetwork::isLocal(std::string_view host, std::span<const std::string> interfaceNames,
                          const std::optional<std::vector<Prefix>>& prefixes) {
    const std::optional<Address> address = parseAddress(host);
    if (!address) {
        return false;
    }
    std::optional<std::string> name;
    if (!interfaceNames.empty()) {
        name = interfaceNames.front();
    }
    if (address->family == Family::ipv6 && isV4Mapped(address->bytes)) {
        const ByteView ipv4 = ByteView(address->bytes).last(4);
        return (!name || isLanName(*name)) && inAnyPrefix(ipv4, Family::ipv4, prefixes);
    }
    if (address->scope) {
        name = address->scope;
    }
    if (address->family == Family::ipv6 && isLinkLocal(address->bytes)) {
        return name && isLanName(*name);
    }
    if (name && !isLanName(*name)) {
        return false;
    }
    return inAnyPrefix(address->bytes, address->family, prefixes);
}

bool HomeNetwork::isTunnel(std::span<const std::string> interfaceNames) {
    return !interfaceNames.empty() && kindOf(interfaceNames.front()) == InterfaceKind::tunnel;
}

HomeNetwork::Route HomeNetwork::route(bool throughDoor, const std::optional<std::string>& host,
                                      std::span<const std::string> interfaceNames,
                                      const std::optional<std::vector<Prefix>>& prefixes) {
    if (throughDoor) {
        return Route::door;
    }
    if (isTunnel(interfaceNames) || !host || !isLocal(*host, interfaceNames, prefixes)) {
        return Route::elsewhere;
    }
    return Route::home;
}

} // namespace velm
