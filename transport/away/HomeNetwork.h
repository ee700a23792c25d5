#pragma once

#include "platform/core/Bytes.h"
#include "protocol/ConnectionRecord.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Decides whether a control connection comes from the home network, through a tunnel
// or through the door. Home means: the peer's address lies in a prefix of one of this
// machine's own LAN interfaces (wired, wireless or bridge), and the connection does
// not run over an interface of another kind. Tunnels never count as home, and
// neither does loopback. Pure functions; safe from any thread.
class HomeNetwork {
public:
    HomeNetwork() = delete;

    using Route = ConnectionRecord::Route;

    enum class Family { ipv4, ipv6 };

    // What an interface is, judged by its Linux name: LAN for en*, eth*, wl*, br*
    // (bridge* included); tunnel for tun*, tap*, wg*, ppp*, ipsec*, utun*; other
    // for everything else (lo, veth*, docker*, ...).
    enum class InterfaceKind { lan, tunnel, other };

    // An interface's address and netmask in network byte order, 4 or 16 bytes each.
    struct Prefix {
        Bytes address;
        Bytes mask;

        // False unless the three lengths agree; then whether the masked bytes are equal.
        bool contains(ByteView candidate) const;

        friend bool operator==(const Prefix&, const Prefix&) = default;
    };

    static InterfaceKind kindOf(std::string_view interfaceName);

    // The prefixes of the LAN interfaces that are up, in the system's order, read
    // afresh: each address of the family whose netmask is not all zeros. Empty when
    // the system's list cannot be read.
    static std::vector<Prefix> localPrefixes(Family family);

    // Whether `host` (an IPv4 or IPv6 literal, the latter perhaps with "%scope"; any
    // other text is a name) is on the home network. Only the first interface name is
    // consulted; a scope names the interface instead. Without `prefixes` the
    // system's are read.
    static bool isLocal(std::string_view host, std::span<const std::string> interfaceNames,
                        const std::optional<std::vector<Prefix>>& prefixes = std::nullopt);
    // Whether the first interface name is a tunnel's.
    static bool isTunnel(std::span<const std::string> interfaceNames);

    // door when the connection came through the door; else home when it comes from
    // the home network; else elsewhere.
    static Route route(bool throughDoor, const std::optional<std::string>& host,
                       std::span<const std::string> interfaceNames,
                       const std::optional<std::vector<Prefix>>& prefixes = std::nullopt);
};

} // namespace velm
