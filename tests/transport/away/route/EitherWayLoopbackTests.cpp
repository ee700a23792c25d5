#include "platform/crypto/Random.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/route/EitherWay.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace velm {
namespace {

// True once the peer has closed the connection, reading and dropping what it sent until then.
bool closesWithinPatience(test::RawSocket& socket) {
    const auto end = std::chrono::steady_clock::now() + test::patience;
    while (std::chrono::steady_clock::now() < end) {
        pollfd descriptor{socket.fd(), POLLIN, 0};
        if (poll(&descriptor, 1, 100) != 1) {
            continue;
        }
        char buffer[4096];
        if (read(socket.fd(), buffer, sizeof buffer) <= 0) {
            return true;
        }
    }
    return false;
}

// Both routes over loopback: a nearby host that takes the connection and never answers its handshake,
// and a door on a UDP port that admits the knock and names the port of a session listener keyed with
// the session key.
TEST(EitherWayLoopbackTest, TheDoorThatAnswersFirstWinsAndTheLateNearbyHostIsLeft) {
    const auto queue = std::make_shared<ManualQueue>("race");
    const Bytes deviceKey = Random::bytes(32);
    test::RawListener lateNearby;
    test::LoopbackPeer door;
    std::vector<EitherWay::Outcome> outcomes;

    const auto race =
        EitherWay::race({Endpoint::hostPort("127.0.0.1", lateNearby.port()),
                         *PreSharedKey::forDevice("pad", deviceKey), "127.0.0.1", door.port()},
                        queue, [&](EitherWay::Outcome outcome) { outcomes.push_back(std::move(outcome)); });
    queue->runUntilIdle();
    const auto nearbyConnection = lateNearby.accept();
    ASSERT_NE(nearbyConnection, nullptr);

    queue->advance(EitherWay::headStart);
    const std::optional<Bytes> knock = door.receive();
    ASSERT_TRUE(knock.has_value());
    const std::vector<Door::Keyring::Device> devices{{"pad", SecretBytes(deviceKey)}};
    std::optional<Door::Admission> admission = Door::Keyring(devices, Date::now()).admit(*knock, Date::now());
    ASSERT_TRUE(admission.has_value());
    const std::optional<SecretBytes> sessionKey = admission->sessionKey();
    ASSERT_TRUE(sessionKey.has_value());
    test::ScriptedHost session({PreSharedKey::forAway(*sessionKey)}, {});
    const std::uint16_t controlPort = std::get<HostPort>(session.endpoint().target).port;
    door.sendTo(door.lastSender().port(), *admission->answer(controlPort));

    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !outcomes.empty(); }));
    const auto* connected = outcomes[0].get<EitherWay::Outcome::Connected>();
    ASSERT_NE(connected, nullptr);
    EXPECT_TRUE(connected->throughDoor);
    EXPECT_EQ(connected->key.identity(), "velm-away");
    EXPECT_EQ(connected->endpoint, session.endpoint());
    EXPECT_TRUE(closesWithinPatience(*nearbyConnection)) << "the nearby attempt is cancelled";
}

} // namespace
} // namespace velm
