#include "platform/net/IpAddress.h"
#include "platform/net/NetworkInterfaces.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>

namespace velm {
namespace {

using Family = IpAddress::Family;

TEST(IpAddressTest, ReadsDottedIpv4AndIpv6LiteralsAndNothingElse) {
    const auto ipv4 = IpAddress::parse("192.168.1.20");
    ASSERT_TRUE(ipv4);
    EXPECT_EQ(std::pair(ipv4->family(), Bytes(ipv4->bytes().begin(), ipv4->bytes().end())),
              std::pair(Family::ipv4, Bytes{192, 168, 1, 20}));

    const auto ipv6 = IpAddress::parse("2001:db8::1");
    ASSERT_TRUE(ipv6);
    EXPECT_EQ(std::tuple(ipv6->family(), ipv6->bytes().size(), ipv6->bytes()[15]),
              std::tuple(Family::ipv6, IpAddress::ipv6Length, 1));

    for (const std::string_view text :
         {"", "example.com", "1.2.3", "1.2.3.4.5", "256.1.1.1", "0x7f.0.0.1", "fe80::1%eth0", " 1.2.3.4"}) {
        EXPECT_FALSE(IpAddress::parse(text)) << text;
    }
    // A NUL would hide the rest of the text from the system's parser.
    EXPECT_FALSE(IpAddress::parse(std::string_view("8.8.8.8\0junk", 12)));
}

TEST(IpAddressTest, WritesTheCanonicalFormAndOrdersByFamilyThenBytes) {
    EXPECT_EQ(IpAddress::parse("2001:0db8:0:0::0001")->text(), "2001:db8::1");
    EXPECT_EQ(IpAddress::parse("::ffff:10.1.2.3")->text(), "::ffff:10.1.2.3");
    EXPECT_EQ(IpAddress().text(), "0.0.0.0");

    EXPECT_LT(*IpAddress::parse("10.0.0.1"), *IpAddress::parse("10.0.0.2"));
    EXPECT_LT(*IpAddress::parse("255.255.255.255"), *IpAddress::parse("::"));
    EXPECT_EQ(IpAddress::fromBytes(Family::ipv4, Bytes{127, 0, 0, 1}), IpAddress::parse("127.0.0.1"));
    EXPECT_FALSE(IpAddress::fromBytes(Family::ipv6, Bytes{127, 0, 0, 1}));
}

TEST(IpAddressTest, TellsMappedIpv4AndLinkLocalIpv6) {
    EXPECT_EQ(IpAddress::parse("::ffff:192.168.1.20")->mappedIpv4(), IpAddress::parse("192.168.1.20"));
    EXPECT_FALSE(IpAddress::parse("::1")->mappedIpv4());
    EXPECT_FALSE(IpAddress::parse("192.168.1.20")->mappedIpv4());

    EXPECT_TRUE(IpAddress::parse("fe80::1")->isIpv6LinkLocal());
    EXPECT_TRUE(IpAddress::parse("febf::1")->isIpv6LinkLocal());
    EXPECT_FALSE(IpAddress::parse("fec0::1")->isIpv6LinkLocal());
    EXPECT_FALSE(IpAddress::parse("169.254.1.1")->isIpv6LinkLocal());
}

TEST(NetworkInterfacesTest, ListsLoopbackUpWithItsNetmaskAndFindsItByAddressAndIndex) {
    const auto loopback = IpAddress::parse("127.0.0.1");
    const std::vector<InterfaceAddress> addresses = NetworkInterfaces::addresses();
    const auto entry = std::find_if(addresses.begin(), addresses.end(), [&](const InterfaceAddress& address) {
        return address.address == loopback;
    });
    ASSERT_NE(entry, addresses.end());
    EXPECT_EQ(std::tuple(entry->name, entry->isUp, entry->netmask),
              std::tuple("lo", true, IpAddress::parse("255.0.0.0")));

    EXPECT_EQ(NetworkInterfaces::namesOf(*loopback), std::vector<std::string>{"lo"});
    EXPECT_EQ(NetworkInterfaces::namesOf(*IpAddress::parse("::ffff:127.0.0.1")),
              std::vector<std::string>{"lo"});
    EXPECT_TRUE(NetworkInterfaces::namesOf(*IpAddress::parse("192.0.2.77")).empty());

    EXPECT_EQ(NetworkInterfaces::nameOf(if_nametoindex("lo")), "lo");
    EXPECT_FALSE(NetworkInterfaces::nameOf(0));
}

} // namespace
} // namespace velm
