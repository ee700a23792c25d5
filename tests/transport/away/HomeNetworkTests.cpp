#include "transport/away/HomeNetwork.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

using Kind = HomeNetwork::InterfaceKind;
using Prefix = HomeNetwork::Prefix;
using Route = HomeNetwork::Route;
using Names = std::vector<std::string>;

Bytes ipv4(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return Bytes(bytes, bytes + 4);
}

Bytes ipv6(const char* text) {
    in6_addr address{};
    EXPECT_EQ(inet_pton(AF_INET6, text, &address), 1) << text;
    return Bytes(address.s6_addr, address.s6_addr + 16);
}

const std::vector<Prefix> homePrefixes = {
    {ipv4("192.168.1.5"), ipv4("255.255.255.0")},
    {ipv6("2001:db8:1::5"), ipv6("ffff:ffff:ffff:ffff::")},
};

TEST(HomeNetworkNameTest, ClassesLinuxInterfaceNames) {
    for (const char* name : {"eth0", "enp3s0", "wlp2s0", "br-lan", "bridge0"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::lan) << name;
    }
    for (const char* name : {"tun0", "tap1", "wg0", "ppp0", "ipsec0"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::tunnel) << name;
    }
    for (const char* name : {"lo", "veth12ab", "docker0", "virbr0", "", "e"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::other) << name;
    }
    EXPECT_TRUE(HomeNetwork::isTunnel(Names{"wg0", "eth0"}));
    EXPECT_FALSE(HomeNetwork::isTunnel(Names{"eth0", "wg0"}));
}

// The route cases below cover the masking itself.
TEST(HomeNetworkPrefixTest, MatchesAddressesAndMasksOfItsOwnLengthOnly) {
    EXPECT_FALSE(homePrefixes[0].contains(ipv6("::ffff:192.168.1.20")));
    EXPECT_FALSE(Prefix({ipv4("192.168.1.5"), ipv6("ffff::")}).contains(ipv4("192.168.1.5")));
}

TEST(HomeNetworkRouteTest, PeersAreHomeInALanPrefixOverALanInterface) {
    const std::string loopbackScope = "fe80::1%" + std::to_string(if_nametoindex("lo"));
    const struct {
        std::string host;
        Names names;
        Route expected;
    } cases[] = {
        {"192.168.1.20", {"eth0"}, Route::home},
        {"192.168.1.20", {"wlp2s0", "wg0"}, Route::home},
        {"192.168.1.20", {"wg0"}, Route::elsewhere},
        {"192.168.2.20", {"eth0"}, Route::elsewhere},
        {"203.0.113.5", {"eth0"}, Route::elsewhere},
        // Without interface names only the prefixes decide.
        {"192.168.1.20", {}, Route::home},
        {"::ffff:192.168.1.20", {"eth0"}, Route::home},
        {"::ffff:192.168.1.20", {"tap0"}, Route::elsewhere},
        {"2001:db8:1::20", {"eth0"}, Route::home},
        {"2001:db8:2::20", {"eth0"}, Route::elsewhere},
        {"fe80::1", {"eth0"}, Route::home},
        {"fe80::1", {"wg0"}, Route::elsewhere},
        {"fe80::1%eth0", {}, Route::home},
        {"fe80::1%veth0", {"eth0"}, Route::elsewhere},
        {"2001:db8:1::20%docker0", {"eth0"}, Route::elsewhere},
        // A numeric scope names the interface with that index: loopback is never LAN.
        {loopbackScope, {"eth0"}, Route::elsewhere},
        {"router.home", {"eth0"}, Route::elsewhere},
        {"", {"eth0"}, Route::elsewhere},
    };
    for (const auto& [host, names, expected] : cases) {
        EXPECT_EQ(HomeNetwork::route(false, host, names, homePrefixes), expected) << host;
    }
    EXPECT_EQ(HomeNetwork::route(true, std::string("203.0.113.5"), Names{"wg0"}, homePrefixes), Route::door);
    EXPECT_EQ(HomeNetwork::route(false, std::nullopt, Names{"eth0"}, homePrefixes), Route::elsewhere);
    EXPECT_EQ(HomeNetwork::route(false, std::string("192.168.1.20"), Names{"eth0"}, std::vector<Prefix>{}),
              Route::elsewhere);
    EXPECT_FALSE(HomeNetwork::isLocal("fe80::1%", Names{}, homePrefixes));
}

// Runs `body` on its own thread in a fresh network namespace; skips when none can be made.
template <typename Body> void inOwnNetworkNamespace(Body body) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "making a network namespace needs root";
    }
    bool made = false;
    std::thread([&] {
        made = unshare(CLONE_NEWNET) == 0;
        if (made) {
            body();
        }
    }).join();
    if (!made) {
        GTEST_SKIP() << "cannot make a network namespace here";
    }
}

void run(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

TEST(HomeNetworkNamespaceTest, RoutesPeersByTheSystemsOwnInterfaces) {
    inOwnNetworkNamespace([] {
        run("ip link set lo up");
        run("ip link add eth-test type veth peer name eth-peer && ip addr add 192.168.77.1/24 dev eth-test "
            "&& "
            "ip addr add 2001:db8:77::1/64 dev eth-test nodad && ip link set eth-test up");
        run("ip link add eth-down type veth peer name eth-down-peer && ip addr add 192.168.88.1/24 dev "
            "eth-down");
        // A zero netmask would make every address local; it yields no prefix.
        run("ip addr add 10.99.0.1/0 dev eth-test");
        run("ip tuntap add dev wg-test mode tun && ip addr add 10.66.0.1/24 dev wg-test && ip link set "
            "wg-test up");

        EXPECT_EQ(HomeNetwork::localPrefixes(HomeNetwork::Family::ipv4),
                  (std::vector<Prefix>{{ipv4("192.168.77.1"), ipv4("255.255.255.0")}}));

        const auto route = [](const char* host, Names names) {
            return HomeNetwork::route(false, std::string(host), names);
        };
        EXPECT_EQ(route("192.168.77.20", {"eth-test"}), Route::home);
        EXPECT_EQ(route("2001:db8:77::20", {"eth-test"}), Route::home);
        EXPECT_EQ(route("127.0.0.1", {"lo"}), Route::elsewhere);
        EXPECT_EQ(route("10.66.0.2", {"wg-test"}), Route::elsewhere);
        EXPECT_EQ(route("192.168.77.20", {"wg-test"}), Route::elsewhere);
        EXPECT_EQ(route("192.168.88.2", {"eth-down"}), Route::elsewhere);
    });
}

} // namespace
} // namespace velm
