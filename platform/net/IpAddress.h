#pragma once

#include "platform/core/Bytes.h"

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// A numeric IPv4 or IPv6 address, its bytes in network order, and for IPv6 the interface it is
// reached through (its scope, an interface index; 0 for none). A link-local address names a host
// only together with its interface, so the scope counts in comparisons: one address on two
// interfaces is two addresses. A plain value: copying it allocates nothing, and it orders by
// family, then by bytes, then by scope.
class IpAddress {
public:
    enum class Family : std::uint8_t { ipv4, ipv6 };

    static constexpr std::size_t ipv4Length = 4;
    static constexpr std::size_t ipv6Length = 16;

    // 0.0.0.0, the IPv4 wildcard.
    IpAddress() = default;
    static IpAddress ipv4(const std::array<std::uint8_t, ipv4Length>& bytes);
    static IpAddress ipv6(const std::array<std::uint8_t, ipv6Length>& bytes);
    // An address of `family` from its bytes in network order; absent unless there are exactly
    // as many as the family has.
    static std::optional<IpAddress> fromBytes(Family family, ByteView bytes);
    // A dotted IPv4 address of four decimal parts, else an IPv6 literal without a scope;
    // absent for anything else, a name or an embedded NUL included.
    static std::optional<IpAddress> parse(std::string_view text);

    Family family() const { return family_; }
    bool isIpv4() const { return family_ == Family::ipv4; }
    ByteView bytes() const { return ByteView(bytes_).first(isIpv4() ? ipv4Length : ipv6Length); }
    // The IPv4 address inside an IPv4-mapped IPv6 address (::ffff:a.b.c.d); absent for any other.
    std::optional<IpAddress> mappedIpv4() const;
    bool isIpv6LinkLocal() const;
    // The interface index an IPv6 address is scoped to (the socket address's sin6_scope_id);
    // 0 when it has none, and always for IPv4.
    std::uint32_t scopeId() const { return scopeId_; }
    // This address scoped to the interface of index `scopeId` (0: none); IPv4 stays unscoped.
    IpAddress withScope(std::uint32_t scopeId) const;
    // The canonical text: dotted for IPv4, the system's compressed form for IPv6, followed for a
    // scoped address by "%" and its interface's name, or its index when no interface has it.
    std::string text() const;

    auto operator<=>(const IpAddress&) const = default;

private:
    Family family_ = Family::ipv4;
    std::array<std::uint8_t, ipv6Length> bytes_{};
    std::uint32_t scopeId_ = 0;
};

} // namespace velm
