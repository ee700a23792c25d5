#include "platform/net/IpAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace velm {

IpAddress IpAddress::ipv4(const std::array<std::uint8_t, ipv4Length>& bytes) {
    IpAddress address;
    std::copy(bytes.begin(), bytes.end(), address.bytes_.begin());
    return address;
}

IpAddress IpAddress::ipv6(const std::array<std::uint8_t, ipv6Length>& bytes) {
    IpAddress address;
    address.family_ = Family::ipv6;
    address.bytes_ = bytes;
    return address;
}

std::optional<IpAddress> IpAddress::fromBytes(Family family, ByteView bytes) {
    const std::size_t length = family == Family::ipv4 ? ipv4Length : ipv6Length;
    if (bytes.size() != length) {
        return std::nullopt;
    }
    IpAddress address;
    address.family_ = family;
    std::copy(bytes.begin(), bytes.end(), address.bytes_.begin());
    return address;
}

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
    // inet_pton reads a C string: a NUL inside would hide what follows it.
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string literal(text);
    std::array<std::uint8_t, ipv6Length> bytes{};
    if (::inet_pton(AF_INET, literal.c_str(), bytes.data()) == 1) {
        return fromBytes(Family::ipv4, ByteView(bytes).first(ipv4Length));
    }
    if (::inet_pton(AF_INET6, literal.c_str(), bytes.data()) == 1) {
        return ipv6(bytes);
    }
    return std::nullopt;
}

std::optional<IpAddress> IpAddress::mappedIpv4() const {
    const ByteView all = bytes();
    if (isIpv4() || !std::all_of(all.begin(), all.begin() + 10, [](std::uint8_t b) { return b == 0; }) ||
        all[10] != 0xff || all[11] != 0xff) {
        return std::nullopt;
    }
    return fromBytes(Family::ipv4, all.last(ipv4Length));
}

bool IpAddress::isIpv6LinkLocal() const {
    return !isIpv4() && bytes_[0] == 0xfe && (bytes_[1] & 0xc0) == 0x80;
}

IpAddress IpAddress::withScope(std::uint32_t scopeId) const {
    IpAddress scoped = *this;
    scoped.scopeId_ = isIpv4() ? 0 : scopeId;
    return scoped;
}

std::string IpAddress::text() const {
    char buffer[INET6_ADDRSTRLEN] = {};
    if (::inet_ntop(isIpv4() ? AF_INET : AF_INET6, bytes_.data(), buffer, sizeof buffer) == nullptr) {
        return {};
    }
    std::string text = buffer;
    if (scopeId_ != 0) {
        char name[IF_NAMESIZE] = {};
        text += '%';
        text += ::if_indextoname(scopeId_, name) != nullptr ? std::string(name) : std::to_string(scopeId_);
    }
    return text;
}

} // namespace velm
