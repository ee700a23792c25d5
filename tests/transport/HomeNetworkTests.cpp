#include "transport/away/HomeNetwork.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <ifaddrs.h>
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
    for (const char* name : {"eth0", "enp3s0", "eno1", "wlan0", "wlp2s0", "br0", "br-lan", "bridge0"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::lan) << name;
    }
    for (const char* name : {"tun0", "tap1", "wg0", "ppp0", "ipsec0", "utun3"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::tunnel) << name;
    }
    for (const char* name : {"lo", "veth12ab", "docker0", "virbr0", "awdl0", "", "e"}) {
        EXPECT_EQ(HomeNetwork::kindOf(name), Kind::other) << name;
    }
    EXPECT_TRUE(HomeNetwork::isTunnel(Names{"wg0", "eth0"}));
    EXPECT_FALSE(HomeNetwork::isTunnel(Names{"eth0", "wg0"}));
    EXPECT_FALSE(HomeNetwork::isTunnel(Names{}));
}

TEST(HomeNetworkPrefixTest, MatchesMaskedBytesOfTheSameLengthOnly) {
    const Prefix& prefix = homePrefixes[0];
    EXPECT_TRUE(prefix.contains(ipv4("192.168.1.20")));
    EXPECT_TRUE(prefix.contains(ipv4("192.168.1.255")));
    EXPECT_FALSE(prefix.contains(ipv4("192.168.2.20")));
    EXPECT_FALSE(prefix.contains(ipv6("::ffff:192.168.1.20")));
    EXPECT_FALSE(Prefix({ipv4("192.168.1.5"), ipv6("ffff::")}).contains(ipv4("192.168.1.5")));
}

// An interface list made by hand, as the system's reader would return it.
class FakeInterfaces {
public:
    void add(const char* name, unsigned flags, const char* address, const char* mask) {
        Entry& entry = entries_.emplace_back();
        entry.name = name;
        entry.flags = flags;
        fill(entry.address, address);
        fill(entry.mask, mask);
        entry.hasMask = mask != nullptr;
    }

    const ifaddrs* list() {
        links_.assign(entries_.size(), ifaddrs{});
        for (std::size_t index = 0; index < entries_.size(); ++index) {
            Entry& entry = entries_[index];
            ifaddrs& link = links_[index];
            link.ifa_next = index + 1 < entries_.size() ? &links_[index + 1] : nullptr;
            link.ifa_name = entry.name.data();
            link.ifa_flags = entry.flags;
            link.ifa_addr = reinterpret_cast<sockaddr*>(&entry.address);
            link.ifa_netmask = entry.hasMask ? reinterpret_cast<sockaddr*>(&entry.mask) : nullptr;
        }
        return links_.empty() ? nullptr : links_.data();
    }

private:
    struct Entry {
        std::string name;
        unsigned flags = 0;
        sockaddr_storage address{};
        sockaddr_storage mask{};
        bool hasMask = false;
    };

    static void fill(sockaddr_storage& storage, const char* text) {
        if (text == nullptr) {
            return;
        }
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
        } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
        }
    }

    std::vector<Entry> entries_;
    std::vector<ifaddrs> links_;
};

TEST(HomeNetworkPrefixTest, TakesUpLanInterfacesWithAMaskOfTheFamily) {
    FakeInterfaces interfaces;
    interfaces.add("eth0", IFF_UP, "192.168.1.5", "255.255.255.0");
    interfaces.add("eth0", IFF_UP, "2001:db8:1::5", "ffff:ffff:ffff:ffff::");
    interfaces.add("eth1", 0, "10.0.0.5", "255.0.0.0");
    interfaces.add("awdl0", IFF_UP, "10.1.0.5", "255.255.0.0");
    interfaces.add("wg0", IFF_UP, "10.2.0.5", "255.255.0.0");
    interfaces.add("wlan0", IFF_UP, "10.3.0.5", "0.0.0.0");
    interfaces.add("br0", IFF_UP, "10.4.0.5", nullptr);
    interfaces.add("br1", IFF_UP, "172.16.0.1", "255.240.0.0");

    const ifaddrs* list = interfaces.list();
    EXPECT_EQ(HomeNetwork::prefixesOf(list, HomeNetwork::Family::ipv4),
              (std::vector<Prefix>{homePrefixes[0], {ipv4("172.16.0.1"), ipv4("255.240.0.0")}}));
    EXPECT_EQ(HomeNetwork::prefixesOf(list, HomeNetwork::Family::ipv6),
              (std::vector<Prefix>{homePrefixes[1]}));
    EXPECT_TRUE(HomeNetwork::prefixesOf(nullptr, HomeNetwork::Family::ipv4).empty());
}

TEST(HomeNetworkRouteTest, IPv4PeersAreHomeInALanPrefixOverALanInterface) {
    const auto route = [](const char* host, Names names) {
        return HomeNetwork::route(false, std::string(host), names, homePrefixes);
    };
    EXPECT_EQ(route("192.168.1.20", {"eth0"}), Route::home);
    EXPECT_EQ(route("192.168.1.20", {"wlp2s0", "wg0"}), Route::home);
    EXPECT_EQ(route("192.168.1.20", {"wg0"}), Route::elsewhere);
    EXPECT_EQ(route("192.168.1.20", {"utun3"}), Route::elsewhere);
    EXPECT_EQ(route("192.168.1.20", {"lo"}), Route::elsewhere);
    EXPECT_EQ(route("192.168.2.20", {"eth0"}), Route::elsewhere);
    EXPECT_EQ(route("203.0.113.5", {"eth0"}), Route::elsewhere);
    // Without interface names only the prefixes decide.
    EXPECT_EQ(route("192.168.1.20", {}), Route::home);
    EXPECT_EQ(route("::ffff:192.168.1.20", {"eth0"}), Route::home);
    EXPECT_EQ(route("::ffff:192.168.1.20", {"tap0"}), Route::elsewhere);
    EXPECT_EQ(HomeNetwork::route(false, std::nullopt, Names{"eth0"}, homePrefixes), Route::elsewhere);
    EXPECT_EQ(HomeNetwork::route(false, std::string("192.168.1.20"), Names{"eth0"}, std::vector<Prefix>{}),
              Route::elsewhere);
}

TEST(HomeNetworkRouteTest, IPv6PeersFollowTheirScopeAndLinkLocality) {
    const auto route = [](const char* host, Names names) {
        return HomeNetwork::route(false, std::string(host), names, homePrefixes);
    };
    EXPECT_EQ(route("2001:db8:1::20", {"eth0"}), Route::home);
    EXPECT_EQ(route("2001:db8:2::20", {"eth0"}), Route::elsewhere);
    EXPECT_EQ(route("fe80::1", {"eth0"}), Route::home);
    EXPECT_EQ(route("fe80::1", {"wg0"}), Route::elsewhere);
    EXPECT_EQ(route("fe80::1", {}), Route::elsewhere);
    EXPECT_EQ(route("fe80::1%eth0", {}), Route::home);
    EXPECT_EQ(route("fe80::1%veth0", {"eth0"}), Route::elsewhere);
    EXPECT_EQ(route("2001:db8:1::20%docker0", {"eth0"}), Route::elsewhere);
    // A numeric scope names the interface with that index: loopback is never LAN.
    EXPECT_EQ(route(("fe80::1%" + std::to_string(if_nametoindex("lo"))).c_str(), {"eth0"}), Route::elsewhere);
}

TEST(HomeNetworkRouteTest, NamesTunnelsAndTheDoorDecideFirst) {
    const auto route = [](bool door, const char* host, Names names) {
        return HomeNetwork::route(door, std::string(host), names, homePrefixes);
    };
    EXPECT_EQ(route(true, "203.0.113.5", {"wg0"}), Route::door);
    EXPECT_EQ(route(true, "192.168.1.20", {"eth0"}), Route::door);
    EXPECT_EQ(route(false, "router.home", {"eth0"}), Route::elsewhere);
    EXPECT_EQ(route(false, "", {"eth0"}), Route::elsewhere);
    EXPECT_FALSE(HomeNetwork::isLocal("fe80::1%", Names{}, homePrefixes));
}

// Runs `body` on a thread of its own inside a fresh network namespace, which goes
// away with the thread. Skips when the namespace cannot be made (not root).
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
        run("ip link add eth-test type veth peer name eth-peer");
        run("ip addr add 192.168.77.1/24 dev eth-test");
        run("ip addr add 2001:db8:77::1/64 dev eth-test nodad");
        run("ip link set eth-test up");
        run("ip link add eth-down type veth peer name eth-down-peer");
        run("ip addr add 192.168.88.1/24 dev eth-down");
        run("ip tuntap add dev wg-test mode tun");
        run("ip addr add 10.66.0.1/24 dev wg-test");
        run("ip link set wg-test up");
        run("ip tuntap add dev tun-test mode tun");
        run("ip addr add 10.77.0.1/24 dev tun-test");
        run("ip link set tun-test up");

        EXPECT_EQ(HomeNetwork::localPrefixes(HomeNetwork::Family::ipv4),
                  (std::vector<Prefix>{{ipv4("192.168.77.1"), ipv4("255.255.255.0")}}));

        const auto route = [](const char* host, Names names) {
            return HomeNetwork::route(false, std::string(host), names);
        };
        EXPECT_EQ(route("192.168.77.20", {"eth-test"}), Route::home);
        EXPECT_EQ(route("2001:db8:77::20", {"eth-test"}), Route::home);
        EXPECT_EQ(route("127.0.0.1", {"lo"}), Route::elsewhere);
        EXPECT_EQ(route("::1", {"lo"}), Route::elsewhere);
        EXPECT_EQ(route("10.66.0.2", {"wg-test"}), Route::elsewhere);
        EXPECT_EQ(route("192.168.77.20", {"wg-test"}), Route::elsewhere);
        EXPECT_EQ(route("10.77.0.2", {"tun-test"}), Route::elsewhere);
        EXPECT_EQ(route("192.168.88.2", {"eth-down"}), Route::elsewhere);
        EXPECT_EQ(route("203.0.113.5", {"eth-test"}), Route::elsewhere);
    });
}

} // namespace
} // namespace velm
