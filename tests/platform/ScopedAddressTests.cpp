#include "platform/dispatch/ManualQueue.h"
#include "platform/net/AddressLookup.h"
#include "platform/net/AsioAddress.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/UdpSocket.h"
#include "tests/support/ConnectionProbe.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/Pump.h"

#include <algorithm>
#include <asio/io_context.hpp>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <vector>

namespace velm {
namespace {

// A link-local address that two interfaces of the private network share.
constexpr const char* shared = "fe80::1";

IpAddress fromText(const std::string& text) {
    return fromAsio(asio::ip::make_address(text));
}

std::vector<IpAddress> lookUp(const std::string& host) {
    auto queue = std::make_shared<ManualQueue>("lookup");
    std::optional<std::vector<IpAddress>> found;
    AddressLookup::lookup(host, queue,
                          [&](std::vector<IpAddress> addresses) { found = std::move(addresses); });
    EXPECT_TRUE(test::pumpUntil(*queue, [&] { return found.has_value(); }));
    return found.value_or(std::vector<IpAddress>{});
}

// A plain IPv6 UDP socket on every address of the private network, standing in for a peer.
class Ipv6Peer {
public:
    std::uint16_t port() const { return socket_.local_endpoint().port(); }

    // The next datagram and its sender; absent when none came in time.
    std::optional<std::pair<Bytes, asio::ip::udp::endpoint>> receive() {
        pollfd readable{socket_.native_handle(), POLLIN, 0};
        if (::poll(&readable, 1, 10000) != 1) {
            return std::nullopt;
        }
        Bytes bytes(64);
        asio::ip::udp::endpoint sender;
        bytes.resize(socket_.receive_from(asio::buffer(bytes), sender));
        return std::pair(std::move(bytes), sender);
    }

    void sendTo(const asio::ip::udp::endpoint& peer, ByteView bytes) {
        socket_.send_to(asio::buffer(bytes.data(), bytes.size()), peer);
    }

private:
    asio::io_context io_;
    asio::ip::udp::socket socket_{io_, asio::ip::udp::endpoint(asio::ip::udp::v6(), 0)};
};

TEST(ScopedAddressTest, AnAddressFromTheSystemKeepsItsInterfaceInTextComparisonAndBack) {
    const unsigned loopback = if_nametoindex("lo");
    const IpAddress onLoopback = fromText("fe80::1%lo");
    EXPECT_EQ(onLoopback.text(), "fe80::1%lo");
    // An index no interface has is still written, as a number.
    EXPECT_EQ(fromText("fe80::1%4000000").text(), "fe80::1%4000000");

    EXPECT_NE(onLoopback, fromText("fe80::1%4000000"));
    EXPECT_NE(onLoopback, *IpAddress::parse("fe80::1"));
    EXPECT_EQ(onLoopback, fromText("fe80::1%" + std::to_string(loopback)));

    EXPECT_EQ(toAsio(onLoopback).to_v6().scope_id(), loopback);
    EXPECT_EQ(toAsio(SocketAddress{onLoopback, 9}).address().to_v6().scope_id(), loopback);
    EXPECT_EQ(fromAsio(asio::ip::udp::endpoint(toAsio(onLoopback), 9)).address, onLoopback);
}

TEST(ScopedAddressTest, ALinkLocalAddressReachesItsOwnInterfaceFromLookupToSendAndAnswer) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    ASSERT_TRUE(test::shareLinkLocalAddress(shared));

    std::vector<std::string> listed;
    for (const InterfaceAddress& entry : NetworkInterfaces::addresses()) {
        listed.push_back(entry.address.text());
    }
    for (const char* each : {"fe80::1%lo", "fe80::1%velm0"}) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), each), listed.end()) << each;
    }

    const std::vector<IpAddress> found = lookUp("fe80::1%lo");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text(), "fe80::1%lo");
    EXPECT_EQ(NetworkInterfaces::namesOf(found[0]), std::vector<std::string>{"lo"});
    // Without a scope the address could be on either.
    std::vector<std::string> either = NetworkInterfaces::namesOf(*IpAddress::parse(shared));
    std::sort(either.begin(), either.end());
    EXPECT_EQ(either, (std::vector<std::string>{"lo", "velm0"}));

    Ipv6Peer peer;
    std::optional<UdpSocket> connected = UdpSocket::connected({found[0], peer.port()});
    ASSERT_TRUE(connected);
    ASSERT_TRUE(connected->send(Bytes{1}));
    const auto first = peer.receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->first, Bytes{1});

    std::optional<UdpSocket> plain = UdpSocket::plain(IpAddress::Family::ipv6);
    ASSERT_TRUE(plain && plain->sendTo(Bytes{2}, {found[0], peer.port()}));
    const auto second = peer.receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->first, Bytes{2});

    // The answer's sender is the same scoped address.
    auto queue = std::make_shared<ManualQueue>("udp");
    std::optional<UdpSocket::Datagram> answer;
    connected->receive(16, queue, [&](UdpSocket::Datagram datagram, const std::optional<NetError>&) {
        answer = std::move(datagram);
    });
    peer.sendTo(first->second, Bytes{3});
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return answer.has_value(); }));
    EXPECT_EQ(answer->sender, (SocketAddress{found[0], peer.port()}));
}

TEST(ScopedAddressTest, AConnectionOverALinkLocalAddressNamesOnlyItsOwnInterface) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    ASSERT_TRUE(test::shareLinkLocalAddress(shared));
    const TlsParameters parameters({TlsKey{"a", SecretBytes(Bytes(32, 1))}});
    test::LoopbackServer server(parameters);
    test::ConnectionProbe client(TlsConnection::connect({"fe80::1%lo", server.port()}, parameters));
    client.start();
    ASSERT_TRUE(client.waitFor(TlsConnection::State::ready));
    EXPECT_EQ(client.connection().interfaceNames(), std::vector<std::string>{"lo"});
    EXPECT_EQ(client.connection().remoteHost(), "fe80::1%lo");
}

} // namespace
} // namespace velm
