#include "platform/crypto/Random.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/door/DoorClient.h"

#include <gtest/gtest.h>
#include <map>
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

    // The knocks that have reached the host so far; sends are done by the time the
    // queue's work is.
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

    std::map<Door::Tag, int> perWindow;
    std::set<std::uint16_t> senders;
    for (const Arrival& arrival : all) {
        ASSERT_EQ(arrival.datagram.size(), Door::knockLength);
        Door::Tag tag{};
        std::copy_n(arrival.datagram.begin(), tag.size(), tag.begin());
        ++perWindow[tag];
        senders.insert(arrival.from);
        EXPECT_EQ(admit(arrival).knock().id, client->knockId());
    }
    EXPECT_EQ(perWindow.size(), 3u);
    for (const auto& [tag, count] : perWindow) {
        EXPECT_EQ(count, 5);
    }
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
    std::uint16_t closedPort = 0;
    {
        LoopbackPeer placeholder;
        closedPort = placeholder.port();
    }
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

} // namespace
} // namespace velm
