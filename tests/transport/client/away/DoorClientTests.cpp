#include "platform/crypto/Random.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/door/DoorListener.h"
#include "transport/client/away/DoorClient.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <net/if.h>
#include <set>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::LoopbackPeer;
using test::pumpUntil;

// Plays the host on one loopback port: takes the knocks a client sends there.
class DoorClientTest : public ::testing::Test {
protected:
    struct Arrival {
        Bytes datagram;
        std::uint16_t from = 0;
    };

    std::shared_ptr<DoorClient> knock(std::optional<std::uint16_t> doorPort,
                                      std::string address = "127.0.0.1") {
        return DoorClient::knock(
            std::move(address), SecretBytes(deviceKey), doorPort, queue,
            [this](DoorClient::Outcome outcome) { outcomes.push_back(std::move(outcome)); });
    }

    // The knocks that have reached the host so far; sends are done by the time the queue's work is.
    std::vector<Arrival> arrivals() {
        std::vector<Arrival> result;
        while (std::optional<Bytes> datagram = host.pending()) {
            result.push_back({std::move(*datagram), host.lastSender().port()});
        }
        return result;
    }

    Door::Admission admit(const Arrival& arrival) {
        std::optional<Door::Admission> admission = keyring.admit(arrival.datagram, Date::now());
        EXPECT_TRUE(admission.has_value());
        return admission ? std::move(*admission) : Door::Admission("", {}, SecretBytes());
    }

    bool waitForOutcome() {
        return pumpUntil(*queue, [this] { return !outcomes.empty(); });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("client");
    const Bytes deviceKey = Random::bytes(32);
    const std::vector<Door::Keyring::Device> devices{{"pad", SecretBytes(deviceKey)}};
    const Door::Keyring keyring{devices, Date::now()};
    LoopbackPeer host;
    std::vector<DoorClient::Outcome> outcomes;
};

TEST_F(DoorClientTest, KnocksFiveTimesForEveryWindowWithOneIdThenGivesUpForGood) {
    const auto client = knock(host.port());
    queue->runUntilIdle();
    std::vector<Arrival> all = arrivals();
    EXPECT_EQ(all.size(), 3u);
    for (const auto step : {350ms, 550ms, 900ms, 1200ms}) {
        queue->advance(step);
        const std::vector<Arrival> more = arrivals();
        EXPECT_EQ(more.size(), 3u);
        all.insert(all.end(), more.begin(), more.end());
    }
    queue->advance(1499ms);
    EXPECT_TRUE(arrivals().empty());
    EXPECT_TRUE(outcomes.empty());
    queue->advance(1ms);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], DoorClient::Outcome(DoorClient::NoAnswer{}));
    host.sendTo(all[0].from, *admit(all[0]).answer(40000));
    queue->advance(1s);
    EXPECT_EQ(outcomes.size(), 1u);

    std::map<Bytes, int> perWindow;
    std::set<std::uint16_t> senders;
    for (const Arrival& arrival : all) {
        ASSERT_EQ(arrival.datagram.size(), Door::knockLength);
        ++perWindow[Bytes(arrival.datagram.begin(), arrival.datagram.begin() + Door::tagLength)];
        senders.insert(arrival.from);
        EXPECT_EQ(admit(arrival).knock().id, client->knockId());
    }
    EXPECT_EQ(perWindow.size(), 3u);
    EXPECT_TRUE(std::all_of(perWindow.begin(), perWindow.end(), [](const auto& e) { return e.second == 5; }));
    EXPECT_EQ(senders.size(), 3u);
}

TEST_F(DoorClientTest, SkipsRepliesThatDoNotOpenAndTheFirstThatDoesEndsTheAttempt) {
    const auto client = knock(host.port(), "localhost");
    std::optional<Bytes> first;
    ASSERT_TRUE(pumpUntil(*queue, [&] { return (first = host.pending()).has_value(); }));
    const std::uint16_t to = host.lastSender().port();
    Door::Admission admission = admit({*first, to});
    const std::optional<SecretBytes> sessionKey = admission.sessionKey();
    ASSERT_TRUE(sessionKey.has_value());

    host.sendTo(to, Random::bytes(Door::replyLength));
    host.sendTo(to, Random::bytes(Door::replyLength + 1));
    // The answer to another knock of the same device does not open either.
    const Date now = Date::now();
    std::optional<Door::Admission> other =
        keyring.admit(*Door::Knocker(deviceKey).knock(Door::epoch(now), now), now);
    ASSERT_TRUE(other.has_value());
    host.sendTo(to, *other->answer(40000));
    host.sendTo(to, *admission.answer(43210));
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(outcomes[0], DoorClient::Outcome(DoorClient::Admitted{"localhost", 43210, *sessionKey}));

    arrivals();
    queue->advance(5s);
    EXPECT_TRUE(arrivals().empty());
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(DoorClientTest, NeverCallsBackAfterCancelOrRelease) {
    auto cancelled = knock(host.port());
    auto released = knock(host.port());
    queue->runUntilIdle();
    EXPECT_EQ(arrivals().size(), 6u);

    cancelled->cancel();
    released.reset();
    queue->advance(5s);
    EXPECT_TRUE(arrivals().empty());
    EXPECT_TRUE(outcomes.empty());
}

TEST_F(DoorClientTest, KeepsListeningAfterAKnockWasRefusedByTheSystem) {
    const std::uint16_t closedPort = LoopbackPeer().port();
    const auto client = knock(closedPort);
    queue->runUntilIdle();
    // Lets the port-unreachable reports of the first knocks reach the client.
    std::this_thread::sleep_for(50ms);
    queue->runUntilIdle();

    LoopbackPeer lateHost(closedPort);
    queue->advance(350ms);
    std::optional<Bytes> knock = lateHost.pending();
    ASSERT_TRUE(knock.has_value());
    const std::uint16_t from = lateHost.lastSender().port();
    lateHost.sendTo(from, *admit({*knock, from}).answer(std::nullopt));
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(outcomes[0], DoorClient::Outcome(DoorClient::Refused{}));
}

TEST_F(DoorClientTest, WithoutAUsablePortOnlyTheGiveUpAnswers) {
    const auto client = knock(0);
    queue->runUntilIdle();
    queue->advance(DoorClient::giveUp - 1ms);
    EXPECT_TRUE(outcomes.empty());
    queue->advance(1ms);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], DoorClient::Outcome(DoorClient::NoAnswer{}));
}

// A link-local address names a host only together with its interface: the knock goes out there.
TEST_F(DoorClientTest, KnocksOnALinkLocalAddressThroughTheInterfaceItNames) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    ASSERT_TRUE(test::shareLinkLocalAddress("fe80::1"));
    asio::io_context io;
    asio::ip::udp::socket door(io, asio::ip::udp::endpoint(asio::ip::udp::v6(), 0));
    const auto client = knock(door.local_endpoint().port(), "fe80::1%lo");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return door.available() > 0; }));
    Bytes datagram(Door::knockLength + 1);
    asio::ip::udp::endpoint sender;
    datagram.resize(door.receive_from(asio::buffer(datagram), sender));
    EXPECT_TRUE(keyring.admit(datagram, Date::now()));
    EXPECT_EQ(sender.address().to_v6().scope_id(), if_nametoindex("lo"));
}

// A knock end to end on loopback: a door client against a keyring-admitting door listener, on real queues.
class DoorKnockTest : public ::testing::Test {
protected:
    static constexpr std::uint16_t controlPort = 45678;

    void SetUp() override {
        const std::vector<Door::Keyring::Device> devices{{"other", Random::secret(32)},
                                                         {"pad", SecretBytes(deviceKey)}};
        // Like the host's away access: one admission per knock id, its reply resent to every copy.
        listener->setOnDatagram(
            [this, keyring = Door::Keyring(devices, Date::now()),
             stored = std::optional<Bytes>()](Bytes datagram, DoorListener::Reply reply) mutable {
                std::optional<Door::Admission> admission = keyring.admit(datagram, Date::now());
                if (!admission) {
                    reply(std::nullopt);
                    return;
                }
                if (!stored) {
                    hostKey.set_value(admission->sessionKey());
                    stored = admission->answer(controlPort);
                }
                reply(stored);
            });
        listener->setOnPort([this](std::optional<std::uint16_t> bound) { portReport.set_value(bound); });
    }

    // Stops the door and waits until nothing on the host queue can reach this test any more.
    void TearDown() override {
        listener->close();
        hostQueue->post([door = listener] {
            door->setOnDatagram(nullptr);
            door->setOnPort(nullptr);
        });
        ASSERT_TRUE(Blocking::drain(*hostQueue));
    }

    // The value of `future`, or nothing when it does not come within patience.
    template <typename T> static std::optional<T> await(std::future<T> future, const char* what) {
        if (future.wait_for(test::patience) != std::future_status::ready) {
            ADD_FAILURE() << what;
            return std::nullopt;
        }
        return future.get();
    }

    // Opens the door and gives the port it listens on, or nothing.
    std::optional<std::uint16_t> open(std::optional<std::uint16_t> port) {
        listener->open(port);
        return await(portReport.get_future(), "the door reported no port").value_or(std::nullopt);
    }

    DoorClient::Outcome knock(std::optional<std::uint16_t> doorPort) {
        std::promise<DoorClient::Outcome> outcome;
        const auto client = DoorClient::knock(
            "127.0.0.1", SecretBytes(deviceKey), doorPort, clientQueue,
            [&outcome](DoorClient::Outcome result) { outcome.set_value(std::move(result)); });
        return await(outcome.get_future(), "the knock had no outcome").value_or(DoorClient::NoAnswer{});
    }

    void expectAdmitted(const DoorClient::Outcome& outcome) {
        const auto sessionKey = await(hostKey.get_future(), "the host admitted nobody");
        ASSERT_TRUE(sessionKey && *sessionKey);
        EXPECT_EQ(outcome, DoorClient::Outcome(DoorClient::Admitted{"127.0.0.1", controlPort, **sessionKey}));
    }

    const Bytes deviceKey = Random::bytes(32);
    std::shared_ptr<Queue> hostQueue = Queue::make("velm.host.away");
    std::shared_ptr<Queue> clientQueue = Queue::make("client");
    std::shared_ptr<DoorListener> listener = DoorListener::make(hostQueue);
    std::promise<std::optional<std::uint16_t>> portReport;
    std::promise<std::optional<SecretBytes>> hostKey;
};

TEST_F(DoorKnockTest, AClientIsAdmittedThroughAFixedDoorPort) {
    const std::optional<std::uint16_t> port = open(std::nullopt);
    ASSERT_TRUE(port.has_value());
    expectAdmitted(knock(port));
}

TEST_F(DoorKnockTest, AClientFindsTheDoorPortOfTheCurrentWindow) {
    const std::uint16_t port = Door::doorPort(deviceKey, Door::epoch(Date::now()));
    if (open(port) != port) {
        GTEST_SKIP() << "door port " << port << " is taken on this machine";
    }
    expectAdmitted(knock(std::nullopt));
}

} // namespace
} // namespace velm
