#include "platform/dispatch/ManualQueue.h"
#include "platform/net/AddressLookup.h"
#include "platform/net/UdpSocket.h"
#include "tests/support/Ipv6Loopback.h"
#include "tests/support/Pump.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

const IpAddress loopback = *IpAddress::parse("127.0.0.1");

struct Received {
    UdpSocket::Datagram datagram;
    std::optional<NetError> error;
};

// A socket bound to a loopback-reachable port, with its receives completing on a manual queue.
class UdpSocketTest : public ::testing::Test {
protected:
    // Receives, doing `meanwhile` before the completion can come.
    std::optional<Received> receiveOn(
        UdpSocket& socket, std::size_t maximum, const std::function<void()>& meanwhile = [] {}) {
        std::optional<Received> received;
        socket.receive(maximum, queue,
                       [&](UdpSocket::Datagram datagram, const std::optional<NetError>& error) {
                           received = Received{std::move(datagram), error};
                       });
        meanwhile();
        test::pumpUntil(*queue, [&] { return received.has_value(); });
        return received;
    }

    SocketAddress addressOf(const UdpSocket& socket) const { return {loopback, socket.localAddress()->port}; }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("udp");
};

// A plain loopback socket that reads the traffic class each datagram arrived with.
class TrafficClassReader {
public:
    TrafficClassReader() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{
            .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        socklen_t length = sizeof address;
        const int on = 1;
        EXPECT_EQ(::setsockopt(fd_, IPPROTO_IP, IP_RECVTOS, &on, sizeof on), 0);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~TrafficClassReader() { ::close(fd_); }

    SocketAddress address() const { return {loopback, port_}; }

    // The traffic class of the next datagram; absent when none came within the limit.
    std::optional<int> next() {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, 10000) != 1) {
            return std::nullopt;
        }
        std::uint8_t data[64];
        iovec vector{data, sizeof data};
        alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int))];
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(fd_, &message, 0) < 0) {
            return std::nullopt;
        }
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_TOS) {
                return *CMSG_DATA(header);
            }
        }
        return std::nullopt;
    }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

TEST_F(UdpSocketTest, ABoundSocketReceivesFromAnyoneCutsLongDatagramsAndAnswers) {
    auto door = UdpSocket::bound({});
    auto peer = UdpSocket::bound({});
    ASSERT_TRUE(door && peer);
    ASSERT_NE(door->localAddress()->port, 0);

    ASSERT_TRUE(peer->sendTo(Bytes(10, 7), addressOf(*door)));
    const auto received = receiveOn(*door, 4);
    ASSERT_TRUE(received);
    EXPECT_FALSE(received->error);
    EXPECT_EQ(received->datagram.bytes, Bytes(4, 7));
    EXPECT_EQ(received->datagram.sender, addressOf(*peer));

    ASSERT_TRUE(door->sendTo(Bytes{1, 2}, received->datagram.sender));
    EXPECT_EQ(peer->receiveWithin(16, 10s).value_or(UdpSocket::Datagram{}).bytes, (Bytes{1, 2}));
    EXPECT_FALSE(peer->receiveWithin(16, 1ms));
}

TEST_F(UdpSocketTest, APortIsSharedOnlyBetweenSocketsThatBothAllowIt) {
    auto exclusive = UdpSocket::bound({});
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(UdpSocket::bound({.port = exclusive->localAddress()->port, .reuseAddress = true}));

    auto shared = UdpSocket::bound({.port = {}, .reuseAddress = true});
    ASSERT_TRUE(shared);
    EXPECT_FALSE(UdpSocket::bound({.port = shared->localAddress()->port}));
    EXPECT_TRUE(UdpSocket::bound({.port = shared->localAddress()->port, .reuseAddress = true}));
}

TEST_F(UdpSocketTest, AConnectedSocketHearsThePortUnreachableReportOfAnEarlierSend) {
    std::uint16_t vacated = 0;
    {
        auto gone = UdpSocket::bound({});
        ASSERT_TRUE(gone);
        vacated = gone->localAddress()->port;
    }
    auto knocker = UdpSocket::connected({loopback, vacated});
    ASSERT_TRUE(knocker);
    ASSERT_TRUE(knocker->send(Bytes(3, 1)));
    const auto received = receiveOn(*knocker, 16);
    ASSERT_TRUE(received && received->error);
    EXPECT_EQ(received->error->kind, NetError::Kind::refused);
}

TEST_F(UdpSocketTest, ClosingEndsAPendingReceiveAsCancelled) {
    auto socket = UdpSocket::bound({});
    ASSERT_TRUE(socket);
    const auto received = receiveOn(*socket, 16, [&] { socket->close(); });
    ASSERT_TRUE(received && received->error);
    EXPECT_EQ(received->error->kind, NetError::Kind::cancelled);
    EXPECT_FALSE(socket->sendTo(Bytes{1}, {loopback, 9}));

    const auto afterClose = receiveOn(*socket, 16, [] {});
    ASSERT_TRUE(afterClose && afterClose->error);
    EXPECT_EQ(afterClose->error->kind, NetError::Kind::cancelled) << "a receive asked for after the close";
}

TEST_F(UdpSocketTest, AnEmptyDatagramGoesAsOneAndAFailedOneIsReported) {
    auto door = UdpSocket::bound({});
    auto peer = UdpSocket::bound({});
    ASSERT_TRUE(door && peer);
    ASSERT_TRUE(peer->sendTo({}, addressOf(*door)));
    const auto received = door->receiveWithin(16, 10s);
    ASSERT_TRUE(received);
    EXPECT_TRUE(received->bytes.empty());
    // An IPv4 socket cannot reach an IPv6 peer.
    EXPECT_FALSE(peer->sendTo({}, {*IpAddress::parse("::1"), addressOf(*door).port}));

    auto connected = UdpSocket::connected(addressOf(*door));
    ASSERT_TRUE(connected);
    connected->close();
    EXPECT_FALSE(connected->send({}));
    EXPECT_FALSE(connected->sendTo({}, addressOf(*door)));
}

TEST_F(UdpSocketTest, ASocketForBothFamiliesHearsAndAnswersEachAndNamesAnIpv4PeerAsIpv4) {
    auto both = UdpSocket::bound({.port = std::nullopt, .bothFamilies = true});
    ASSERT_TRUE(both);
    std::vector<std::string> hosts{"127.0.0.1"};
    if (test::hasIpv6Loopback()) {
        hosts.emplace_back("::1");
    }
    for (const std::string& host : hosts) {
        auto peer = UdpSocket::connected({*IpAddress::parse(host), both->localAddress()->port});
        ASSERT_TRUE(peer && peer->send(Bytes{3}));
        const auto received = receiveOn(*both, 16);
        ASSERT_TRUE(received && !received->error) << host;
        EXPECT_EQ(received->datagram.sender, peer->localAddress());
        ASSERT_TRUE(both->sendTo(Bytes{4}, received->datagram.sender));
        EXPECT_EQ(peer->receiveWithin(16, 10s).value_or(UdpSocket::Datagram{}).bytes, Bytes{4});
    }
}

TEST_F(UdpSocketTest, InteractiveVideoDatagramsCarryTheAf41TrafficClass) {
    TrafficClassReader reader;
    auto video = UdpSocket::bound({.port = {}, .reuseAddress = false, .interactiveVideo = true});
    auto both =
        UdpSocket::bound({.port = {}, .reuseAddress = false, .interactiveVideo = true, .bothFamilies = true});
    auto plain = UdpSocket::bound({});
    ASSERT_TRUE(video && both && plain);
    ASSERT_TRUE(video->sendTo(Bytes{1}, reader.address()));
    EXPECT_EQ(reader.next(), 34 << 2);
    ASSERT_TRUE(both->sendTo(Bytes{1}, reader.address()));
    EXPECT_EQ(reader.next(), 34 << 2);
    ASSERT_TRUE(plain->sendTo(Bytes{1}, reader.address()));
    EXPECT_EQ(reader.next(), 0);
}

TEST(AddressLookupTest, FindsLocalhostAndNothingForAnUnknownName) {
    auto queue = std::make_shared<ManualQueue>("lookup");
    std::vector<std::vector<IpAddress>> answers;
    for (const char* name : {"localhost", "no-such-host.invalid"}) {
        AddressLookup::lookup(name, queue, [&](std::vector<IpAddress> found) { answers.push_back(found); });
    }
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return answers.size() == 2; }));
    const auto& local = answers[0].size() > answers[1].size() ? answers[0] : answers[1];
    EXPECT_NE(std::find(local.begin(), local.end(), loopback), local.end());
    EXPECT_TRUE(answers[0].empty() || answers[1].empty());
}

TEST(AddressLookupTest, ANameCutShortByANulOrEmptyFindsNothing) {
    auto queue = std::make_shared<ManualQueue>("lookup");
    std::vector<std::vector<IpAddress>> answers;
    for (const std::string& name : {std::string("localhost\0.example", 18), std::string()}) {
        AddressLookup::lookup(name, queue, [&](std::vector<IpAddress> found) { answers.push_back(found); });
    }
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return answers.size() == 2; }));
    EXPECT_TRUE(answers[0].empty());
    EXPECT_TRUE(answers[1].empty());
}

} // namespace
} // namespace velm
