#include "Velm_Host/session/SessionVideoSocket.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Ipv6Loopback.h"
#include "tests/support/Pump.h"
#include "transport/keys/PacketSealer.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// A session's video port, started, with the key and token its client seals under.
class SessionVideoSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(socket);
        socket->setOnFlowAdopted([this](SocketAddress client) { adopted.push_back(client); });
        socket->start();
    }

    // Closes the port; true when it let go of the queue.
    bool closeAndRelease() {
        socket->close();
        socket.reset();
        return test::pumpUntilReleased(queue);
    }

    const std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.session");
    const Bytes videoKey = Random::bytes(32);
    const Bytes token = Random::bytes(16);
    std::shared_ptr<SessionVideoSocket> socket =
        SessionVideoSocket::open(SecretBytes(videoKey), SecretBytes(token), queue);
    std::vector<SocketAddress> adopted;
};

// Datagrams over loopback to a session's video port: only one sealed under the video key whose
// plaintext carries the session token adopts its sender's flow.
TEST_F(SessionVideoSocketTest, AdoptsTheFlowOnlyWithTheRightKeyAndToken) {
    const SocketAddress port{*IpAddress::parse("127.0.0.1"), socket->port()};
    // The client's one sealer of its direction: a datagram refused for its token still spends a counter.
    PacketSealer client(SecretBytes(videoKey), PacketDirection::clientToHost);
    const auto sendFromNewPort = [&](std::optional<Bytes> sealed) {
        auto sender = UdpSocket::connected(port);
        EXPECT_TRUE(sender && sealed && sender->send(*sealed));
        return std::move(*sender);
    };
    Bytes tokenAndFeedback = token;
    tokenAndFeedback.push_back(7);
    auto wrongKey = sendFromNewPort(
        PacketSealer(SecretBytes(Random::bytes(32)), PacketDirection::clientToHost).seal(token));
    auto wrongDirection =
        sendFromNewPort(PacketSealer(SecretBytes(videoKey), PacketDirection::hostToClient).seal(token));
    auto wrongToken = sendFromNewPort(client.seal(Random::bytes(16)));
    auto right = sendFromNewPort(client.seal(tokenAndFeedback));

    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !adopted.empty(); }));
    EXPECT_EQ(adopted.front().port, right.localAddress()->port);
    EXPECT_EQ(socket->flow(), adopted.front());
    EXPECT_TRUE(closeAndRelease());
    EXPECT_EQ(adopted.size(), 1u);
}

// The device sends its video to the address it reached the host at, which may be an IPv6 one.
TEST_F(SessionVideoSocketTest, AdoptsAFlowOverIpv6) {
    if (!test::hasIpv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    auto client = UdpSocket::connected({*IpAddress::parse("::1"), socket->port()});
    ASSERT_TRUE(client);
    ASSERT_TRUE(
        client->send(*PacketSealer(SecretBytes(videoKey), PacketDirection::clientToHost).seal(token)));
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !adopted.empty(); }));
    EXPECT_EQ(adopted.front(), client->localAddress());
    EXPECT_TRUE(closeAndRelease());
}

} // namespace
} // namespace velm
