#include "Velm_Host/session/SessionVideoSocket.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Pump.h"
#include "transport/keys/PacketSealer.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// Datagrams over loopback to a session's video port: only one sealed under the video key whose
// plaintext carries the session token adopts its sender's flow.
TEST(SessionVideoSocketTest, AdoptsTheFlowOnlyWithTheRightKeyAndToken) {
    const auto queue = std::make_shared<ManualQueue>("velm.host.session");
    const Bytes videoKey = Random::bytes(32);
    const Bytes token = Random::bytes(16);
    auto socket = SessionVideoSocket::open(SecretBytes(videoKey), SecretBytes(token), queue);
    ASSERT_TRUE(socket);
    std::vector<SocketAddress> adopted;
    socket->setOnFlowAdopted([&](SocketAddress client) { adopted.push_back(client); });
    socket->start();

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
    socket->close();
    socket.reset();
    EXPECT_TRUE(test::pumpUntilReleased(queue));
    EXPECT_EQ(adopted.size(), 1u);
}

} // namespace
} // namespace velm
