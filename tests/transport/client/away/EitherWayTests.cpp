#include "platform/crypto/Random.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RawTls.h"
#include "tests/support/ScriptedHost.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/client/away/EitherWay.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Event = ControlChannel::Event;
using Outcome = EitherWay::Outcome;
using Consent = EitherWay::Consent;

// Channels that never touch the network and knocks that never leave the test, which answers for both.
class ScriptedDialer final : public RouteDialer {
public:
    struct Dialed {
        std::shared_ptr<ControlChannel> channel;
        ControlChannel::EventHandler handler;
        bool hungUp = false;
    };
    struct Knock {
        SecretBytes deviceKey;
        DoorClient::Completion completion;
        bool calledOff = false;
    };

    std::shared_ptr<ControlChannel> dial(const Endpoint& endpoint, const PreSharedKey& key,
                                         std::shared_ptr<Queue>,
                                         ControlChannel::EventHandler handler) override {
        // Never started, so it stays silent.
        dialed.push_back({ControlChannel::outgoing(endpoint, key), std::move(handler)});
        return dialed.back().channel;
    }
    void hangUp(const std::shared_ptr<ControlChannel>& channel) override {
        for (Dialed& entry : dialed) {
            entry.hungUp = entry.hungUp || entry.channel == channel;
        }
    }
    CallOff knock(const std::string&, const SecretBytes& deviceKey, std::optional<std::uint16_t>,
                  std::shared_ptr<Queue>, DoorClient::Completion completion) override {
        knocks.push_back({deviceKey, std::move(completion)});
        // A race the test has moved on from may call its knock off after the list was cleared.
        return [this, index = knocks.size() - 1, round = round] {
            if (round == this->round) {
                knocks[index].calledOff = true;
            }
        };
    }
    void clear() {
        dialed.clear();
        knocks.clear();
        ++round;
    }

    std::vector<Dialed> dialed;
    std::vector<Knock> knocks;
    int round = 0;
};

class EitherWayTest : public ::testing::Test {
protected:
    // A new race; the asking one puts its question to the test.
    std::shared_ptr<EitherWay> race(bool asks = false) {
        outcomes.clear();
        dialer->clear();
        EitherWay::AskConsent ask;
        if (asks) {
            ask = [this](EitherWay::ConsentReply answer) {
                reply = std::move(answer);
                ++questions;
                return [this] { ++withdrawn; };
            };
        }
        auto started = EitherWay::race({nearby, deviceKey, "127.0.0.1", 47001}, queue,
                                       [this](Outcome outcome) { outcomes.push_back(std::move(outcome)); },
                                       {std::move(ask), dialer});
        queue->runUntilIdle();
        return started;
    }

    void send(std::size_t channel, Event event) {
        dialer->dialed.at(channel).handler(std::move(event));
        queue->runUntilIdle();
    }
    void ready(std::size_t channel) { send(channel, Event::Ready{}); }
    void fail(std::size_t channel) { send(channel, Event::Closed{ControlChannel::CloseReason::unreachable}); }
    void answer(Consent consent) {
        reply(consent);
        queue->runUntilIdle();
    }
    void answerKnock(DoorClient::Outcome outcome) {
        dialer->knocks.at(0).completion(std::move(outcome));
        queue->runUntilIdle();
    }
    void admit() { answerKnock(DoorClient::Admitted{"127.0.0.1", 40001, sessionKey}); }

    // Whether the one outcome is a connection, and through the door.
    std::optional<bool> throughDoor() const {
        const auto* connected = outcomes.size() == 1 ? outcomes[0].get<Outcome::Connected>() : nullptr;
        return connected ? std::optional(connected->throughDoor) : std::nullopt;
    }

    const std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("race");
    const std::shared_ptr<ScriptedDialer> dialer = std::make_shared<ScriptedDialer>();
    const Endpoint nearby = Endpoint::hostPort("127.0.0.1", 47000);
    const PreSharedKey deviceKey = *PreSharedKey::forDevice("pad", Bytes(32, 0x41));
    const SecretBytes sessionKey = SecretBytes(Bytes(32, 0x42));
    std::vector<Outcome> outcomes;
    EitherWay::ConsentReply reply;
    int questions = 0;
    int withdrawn = 0;
};

TEST_F(EitherWayTest, TheNearbyRouteHasAHeadStart) {
    auto way = race(true);
    queue->advance(EitherWay::headStart - 1ms);
    ready(0);
    queue->advance(10s);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], Outcome(Outcome::Connected{dialer->dialed[0].channel, nearby, deviceKey, false}));
    EXPECT_EQ(questions, 0);
    EXPECT_TRUE(dialer->knocks.empty());

    way = race();
    queue->advance(EitherWay::headStart - 1ms);
    EXPECT_TRUE(dialer->knocks.empty());
    queue->advance(1ms);
    ASSERT_EQ(dialer->knocks.size(), 1u);
    EXPECT_EQ(dialer->knocks[0].deviceKey, deviceKey.key());

    // A nearby failure starts the door route at once, and only once.
    way = race();
    queue->advance(100ms);
    fail(0);
    EXPECT_EQ(dialer->knocks.size(), 1u);
    queue->advance(1s);
    EXPECT_EQ(dialer->knocks.size(), 1u);
    EXPECT_TRUE(outcomes.empty()) << "a nearby failure alone does not end the race";
}

TEST_F(EitherWayTest, TheUserIsAskedBeforeTheKnock) {
    auto way = race(true);
    queue->advance(EitherWay::headStart);
    EXPECT_EQ(questions, 1);
    ready(0);
    EXPECT_EQ(withdrawn, 1) << "the question goes when the nearby route wins";
    EXPECT_EQ(throughDoor(), false);
    answer(Consent::granted);
    EXPECT_TRUE(dialer->knocks.empty()) << "an answer after the race changes nothing";

    for (const auto& [consent, expected] : {std::pair(Consent::denied, Outcome(Outcome::NotConsented{})),
                                            std::pair(Consent::notNow, Outcome(Outcome::Unreachable{}))}) {
        way = race(true);
        queue->advance(EitherWay::headStart);
        answer(consent);
        EXPECT_TRUE(outcomes.empty()) << "the nearby route is still under way";
        fail(0);
        EXPECT_EQ(outcomes, std::vector<Outcome>{expected});
    }
    EXPECT_EQ(withdrawn, 1) << "an answered question needs no withdrawing";

    way = race(true);
    fail(0);
    answer(Consent::granted);
    EXPECT_EQ(dialer->knocks.size(), 1u);
}

TEST_F(EitherWayTest, ADoorFailureWaitsForTheNearbyRoute) {
    for (const auto& [knock, expected] :
         {std::pair<DoorClient::Outcome, Outcome>(DoorClient::Refused{}, Outcome::Refused{}),
          std::pair<DoorClient::Outcome, Outcome>(DoorClient::NoAnswer{}, Outcome::Unreachable{})}) {
        auto way = race();
        queue->advance(EitherWay::headStart);
        answerKnock(knock);
        EXPECT_TRUE(outcomes.empty());
        fail(0);
        EXPECT_EQ(outcomes, std::vector<Outcome>{expected});
    }
    // A door channel that closes after an admitted knock.
    auto way = race();
    fail(0);
    admit();
    fail(1);
    EXPECT_EQ(outcomes, std::vector<Outcome>{Outcome::Unreachable{}});

    way = race();
    queue->advance(EitherWay::headStart);
    answerKnock(DoorClient::Refused{});
    ready(0);
    EXPECT_EQ(throughDoor(), false);
}

TEST_F(EitherWayTest, TheFirstReadyChannelWinsAndTheOtherIsClosed) {
    auto way = race();
    queue->advance(EitherWay::headStart);
    admit();
    ASSERT_EQ(dialer->dialed.size(), 2u);
    ready(1);
    ready(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0],
              Outcome(Outcome::Connected{dialer->dialed[1].channel, Endpoint::hostPort("127.0.0.1", 40001),
                                         PreSharedKey::forAway(sessionKey), true}));
    EXPECT_TRUE(dialer->dialed[0].hungUp);
    EXPECT_FALSE(dialer->dialed[1].hungUp);

    way = race();
    queue->advance(EitherWay::headStart);
    admit();
    ready(0);
    EXPECT_EQ(throughDoor(), false);
    EXPECT_TRUE(dialer->dialed[1].hungUp);
    EXPECT_FALSE(dialer->dialed[0].hungUp);
}

// The winner belongs to the application once the race is over: its end is none of the race's business.
TEST_F(EitherWayTest, AWinnerThatClosesLaterIsNotReportedAsAFailedRoute) {
    LogCapture log;
    auto way = race();
    ready(0);
    send(0, Event::Closed{ControlChannel::CloseReason::lost});
    EXPECT_FALSE(log.contains("not nearby"));
    queue->advance(10s);
    EXPECT_TRUE(dialer->knocks.empty());
    EXPECT_EQ(outcomes.size(), 1u);

    way = race();
    fail(0);
    EXPECT_TRUE(log.contains("away: not nearby: unreachable"));
}

TEST_F(EitherWayTest, CancelClosesEverythingAndNeverCallsBack) {
    auto way = race();
    queue->advance(EitherWay::headStart);
    admit();
    way->cancel();
    queue->runUntilIdle();
    EXPECT_TRUE(dialer->knocks[0].calledOff);
    EXPECT_TRUE(dialer->dialed[0].hungUp);
    EXPECT_TRUE(dialer->dialed[1].hungUp);
    ready(1);
    queue->advance(10s);
    EXPECT_TRUE(outcomes.empty());

    way = race(true);
    queue->advance(EitherWay::headStart);
    way->cancel();
    queue->runUntilIdle();
    EXPECT_EQ(withdrawn, 1);
}

// An owner that lets go of a race mid-way ends it as a cancel does: the question comes down and
// both routes close, rather than leaving the user a question whose answer goes nowhere.
TEST_F(EitherWayTest, ReleasingTheRaceClosesEverythingAndWithdrawsTheQuestion) {
    auto way = race(true);
    queue->advance(EitherWay::headStart);
    ASSERT_EQ(questions, 1);
    way.reset();
    queue->advance(10s);
    EXPECT_EQ(withdrawn, 1);
    EXPECT_TRUE(dialer->dialed[0].hungUp);

    way = race();
    queue->advance(EitherWay::headStart);
    admit();
    way.reset();
    EXPECT_TRUE(dialer->knocks[0].calledOff);
    EXPECT_TRUE(dialer->dialed[0].hungUp);
    EXPECT_TRUE(dialer->dialed[1].hungUp);
    EXPECT_TRUE(outcomes.empty());
}

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

// Both routes over loopback: a nearby host that never answers its handshake, and a door that admits the
// knock and names the port of a session listener keyed with the session key.
TEST(EitherWayLoopbackTest, TheDoorThatAnswersFirstWinsAndTheLateNearbyHostIsLeft) {
    const auto queue = std::make_shared<ManualQueue>("race");
    const Bytes deviceKey = Random::bytes(32);
    test::RawListener lateNearby;
    test::LoopbackPeer door;
    std::vector<EitherWay::Outcome> outcomes;

    auto race =
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

    // The connections' last updates are posted to the queue they hold: run them, or they leak with it.
    outcomes.clear();
    race.reset();
    EXPECT_TRUE(test::pumpUntilReleased(queue));
}

} // namespace
} // namespace velm
