#include "transport/away/HomeNetwork.h"

#include "platform/net/NetworkInterfaces.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace velm {

namespace {

constexpr std::array<std::string_view, 4> lanPrefixes = {"en", "eth", "wl", "br"};
constexpr std::array<std::string_view, 6> tunnelPrefixes = {"tun", "tap", "wg", "ppp", "ipsec", "utun"};
// Interface indexes of more digits than this are not read as numbers.
constexpr std::size_t maxIndexDigits = 9;

template <std::size_t count>
bool beginsWithAny(std::string_view name, const std::array<std::string_view, count>& prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [name](std::string_view prefix) { return name.starts_with(prefix); });
}

bool isLanName(std::string_view name) {
    return HomeNetwork::kindOf(name) == HomeNetwork::InterfaceKind::lan;
}

IpAddress::Family addressFamily(HomeNetwork::Family family) {
    return family == HomeNetwork::Family::ipv4 ? IpAddress::Family::ipv4 : IpAddress::Family::ipv6;
}

Bytes bytesOf(const IpAddress& address) {
    const ByteView bytes = address.bytes();
    return Bytes(bytes.begin(), bytes.end());
}

// A peer host as text: an IPv4 or IPv6 literal, the latter perhaps with a scope.
struct Address {
    IpAddress ip;
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
    if (scope.size() > maxIndexDigits) {
        return std::nullopt;
    }
    return NetworkInterfaces::nameOf(static_cast<unsigned>(std::stoul(std::string(scope))));
}

std::optional<Address> parseAddress(std::string_view host) {
    const std::size_t percent = host.find('%');
    const std::optional<IpAddress> ip = IpAddress::parse(host.substr(0, percent));
    if (!ip || (ip->isIpv4() && percent != std::string_view::npos)) {
        return std::nullopt;
    }
    std::optional<std::string> scope;
    if (percent != std::string_view::npos) {
        scope = scopeName(host.substr(percent + 1));
    }
    return Address{*ip, scope};
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
    std::vector<Prefix> prefixes;
    for (const InterfaceAddress& entry : NetworkInterfaces::addresses()) {
        if (!entry.isUp || !isLanName(entry.name) || !entry.netmask ||
            entry.address.family() != addressFamily(family)) {
            continue;
        }
        Prefix prefix{bytesOf(entry.address), bytesOf(*entry.netmask)};
        if (std::any_of(prefix.mask.begin(), prefix.mask.end(), [](std::uint8_t b) { return b != 0; })) {
            prefixes.push_back(std::move(prefix));
        }
    }
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
    if (const std::optional<IpAddress> ipv4 = address->ip.mappedIpv4()) {
        return (!name || isLanName(*name)) && inAnyPrefix(ipv4->bytes(), Family::ipv4, prefixes);
    }
    if (address->scope) {
        name = address->scope;
    }
    if (address->ip.isIpv6LinkLocal()) {
        return name && isLanName(*name);
    }
    if (name && !isLanName(*name)) {
        return false;
    }
    return inAnyPrefix(address->ip.bytes(), address->ip.isIpv4() ? Family::ipv4 : Family::ipv6, prefixes);
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
