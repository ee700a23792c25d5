#include "Velm_Host/away/AwayAccess.h"
#include "platform/net/UdpSocket.h"
#include "platform/store/DefaultsStore.h"
#include "tests/host/away/AwayHarness.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/ScriptedRouter.h"
#include "tests/support/TemporaryFolder.h"

#include <charconv>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::KnockingPeer;
using test::ScriptedRouter;
using Mapping = std::pair<std::string, std::uint16_t>;

// The service against a scripted router, inside a private network. Every test starts with
// test::insidePrivateNetwork(): door ports are derived from random keys, and there they cannot
// meet another program's ports.
class AwayAccessTest : public test::AwayHarness {
protected:
    // The requests of `action` so far, as "<protocol> <external port>".
    std::vector<std::string> sent(const std::string& action) const {
        std::vector<std::string> values;
        for (const auto& exchange : router->exchanges) {
            if (exchange.action() == action) {
                values.push_back(exchange.argument("NewProtocol") + " " +
                                 exchange.argument("NewExternalPort"));
            }
        }
        return values;
    }

    static Mapping mappingOf(const ScriptedRouter::Exchange& exchange) {
        const std::string port = exchange.argument("NewExternalPort");
        std::uint16_t number = 0;
        std::from_chars(port.data(), port.data() + port.size(), number);
        return {exchange.argument("NewProtocol"), number};
    }

    // What the router forwards when every request has succeeded.
    std::set<Mapping> forwarded() const {
        std::set<Mapping> held;
        for (const auto& exchange : router->exchanges) {
            const Mapping mapping = mappingOf(exchange);
            if (exchange.action() == "AddPortMapping") {
                held.insert(mapping);
            } else if (exchange.action() == "DeletePortMapping") {
                held.erase(mapping);
            }
        }
        return held;
    }

    static std::set<Mapping> udp(const std::set<std::uint16_t>& ports) {
        std::set<Mapping> mappings;
        for (const std::uint16_t port : ports) {
            mappings.insert({"UDP", port});
        }
        return mappings;
    }

    void enable(const std::vector<AwayDevice>& devices) {
        access->setEnabled(true, devices);
        queue->runUntilIdle();
    }

    // An admitted knock of a new knocker: its reply's port and session key.
    std::optional<Door::Answer::Admitted> admit(const AwayDevice& of, KnockingPeer& peer) {
        const Door::Knocker knocker(of.key);
        const auto reply = exchange(peer, doorOf(of), knockOf(knocker));
        const auto answer = reply ? Door::Reply::open(*reply, knocker) : std::nullopt;
        if (!answer || !answer->admitted()) {
            ADD_FAILURE() << "the knock was not admitted";
            return std::nullopt;
        }
        return *answer->admitted();
    }

    // Whether the bad datagram got no reply: a good knock sent after it from the same peer must
    // be the first thing to come back.
    bool noReplyTo(KnockingPeer& peer, const AwayDevice& of, ByteView bad) {
        peer.send(doorOf(of), bad);
        const Door::Knocker sentinel(of.key);
        const auto reply = exchange(peer, doorOf(of), knockOf(sentinel));
        return reply && Door::Reply::open(*reply, sentinel).has_value();
    }

    int logged(const std::string& text) {
        int count = 0;
        for (const auto& line : log.lines()) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    std::shared_ptr<ScriptedRouter> router = std::make_shared<ScriptedRouter>();
    const AwayDevice pad = device("pad-0001-aaaa");
    const AwayStatus ready = AwayStatus::ready("203.0.113.7");
};

TEST_F(AwayAccessTest, SwitchedOnItMapsEveryDoorOnceItListensAndReportsReady) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    EXPECT_EQ(statuses, (std::vector<AwayStatus>{AwayStatus::looking(), ready}));
    EXPECT_EQ(forwarded(), udp(doorPorts({pad})));
    for (const auto& exchange : router->exchanges) {
        if (exchange.action() == "AddPortMapping") {
            EXPECT_EQ(exchange.argument("NewLeaseDuration"), "1500");
            EXPECT_EQ(exchange.argument("NewExternalPort"), exchange.argument("NewInternalPort"));
        }
    }
    EXPECT_EQ(logged("away: away access: ready(address: \"203.0.113.7\")"), 1);

    // On again with the same list: one more pass, which finds nothing to do, and one ticker.
    const auto requests = router->exchanges.size();
    enable({pad});
    EXPECT_EQ(router->exchanges.size(), requests);
    EXPECT_EQ(queue->pendingCount(), 1u);
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(queue->pendingCount(), 1u);
    EXPECT_EQ(statuses.size(), 2u);
}

TEST_F(AwayAccessTest, RepeatsAnEntrysReplyByteForByteAndGivesAReplayOfAClosedOneNothing) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    KnockingPeer first;
    KnockingPeer second;
    const Door::Knocker knocker(pad.key);
    const Bytes knock = knockOf(knocker);
    const auto reply = exchange(first, doorOf(pad), knock);
    ASSERT_TRUE(reply.has_value());
    const auto answer = Door::Reply::open(*reply, knocker);
    ASSERT_TRUE(answer && answer->admitted());
    const std::uint16_t controlPort = answer->admitted()->controlPort;
    EXPECT_TRUE(forwarded().contains({"TCP", controlPort}));
    EXPECT_EQ(logged("away: a knock from pad-0001"), 1);

    // Idle for exactly 30 s the entry stays, and the same knock gets the same bytes.
    queue->advance(30s);
    EXPECT_EQ(exchange(second, doorOf(pad), knock), reply);
    // Past that the entry is closed and unmapped; the knock id stays spent.
    queue->advance(30s);
    queue->runUntilIdle();
    EXPECT_FALSE(forwarded().contains({"TCP", controlPort}));
    EXPECT_TRUE(noReplyTo(second, pad, knock));
    EXPECT_EQ(logged("away: a knock from pad-0001"), 2);
}

TEST_F(AwayAccessTest, TamperedSkewedForeignAndLapsedKnocksGetNoReplyAndLeaveNothing) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    const AwayDevice lapsing = device("lapsing-1", Date(clock().secondsSinceReferenceDate() + 10));
    enable({pad, lapsing});
    const std::size_t doors = doorPorts({pad, lapsing}).size();
    KnockingPeer peer;
    // The keyring is built while both devices are active.
    ASSERT_TRUE(admit(pad, peer).has_value());
    queue->advance(11s);
    const Door::Knocker knocker(pad.key);

    Bytes tampered = knockOf(knocker);
    tampered[Door::tagLength + 20] ^= 0x01;
    EXPECT_TRUE(noReplyTo(peer, pad, tampered));
    EXPECT_TRUE(noReplyTo(peer, pad, knockOf(knocker, 121)));
    EXPECT_TRUE(noReplyTo(peer, pad, knockOf(knocker, -121)));
    EXPECT_TRUE(noReplyTo(peer, pad, knockOf(Door::Knocker(Random::secret(32)))));
    EXPECT_TRUE(noReplyTo(peer, pad, knockOf(Door::Knocker(lapsing.key))));
    EXPECT_TRUE(noReplyTo(peer, pad, Random::bytes(Door::knockLength)));

    EXPECT_EQ(logged("away: a knock from lapsing-, whose away access has lapsed"), 1);
    // Only the first knock and the six sentinels were admitted, each with a listener of its own.
    EXPECT_EQ(logged("away: a knock from pad-0001"), 7);
    EXPECT_EQ(sent("AddPortMapping").size(), doors + 7);
}

TEST_F(AwayAccessTest, AFifthKnockIsRefusedWhileFourSessionsAreInUseAndEvictsTheIdlestOtherwise) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    KnockingPeer peer;
    std::vector<Door::Answer::Admitted> admitted;
    for (int index = 0; index < 4; ++index) {
        const auto one = admit(pad, peer);
        ASSERT_TRUE(one.has_value());
        ASSERT_TRUE(connect(one->controlPort, one->sessionKey));
        admitted.push_back(*one);
    }
    ASSERT_EQ(arrivals.size(), 4u);

    const Door::Knocker refusedKnocker(pad.key);
    const auto refusal = exchange(peer, doorOf(pad), knockOf(refusedKnocker));
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->size(), Door::replyLength);
    const auto answer = Door::Reply::open(*refusal, refusedKnocker);
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->isRefused());

    // The second session ends: its entry is the one a fresh knock evicts.
    access->connectionEnded(arrivals[1].ticket);
    const auto fifth = admit(pad, peer);
    ASSERT_TRUE(fifth.has_value());
    EXPECT_FALSE(forwarded().contains({"TCP", admitted[1].controlPort}));
    for (const std::size_t kept : {0u, 2u, 3u}) {
        EXPECT_TRUE(forwarded().contains({"TCP", admitted[kept].controlPort}));
    }
    EXPECT_TRUE(forwarded().contains({"TCP", fifth->controlPort}));
}

TEST_F(AwayAccessTest, ATicketCountsOnceAndForwardsVideoOnlyWhileItsChannelLives) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    KnockingPeer peer;
    const auto session = admit(pad, peer);
    ASSERT_TRUE(session.has_value());
    ASSERT_TRUE(connect(session->controlPort, session->sessionKey));
    ASSERT_TRUE(connect(session->controlPort, session->sessionKey));
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_EQ(arrivals[0].ticket.knockID, arrivals[1].ticket.knockID);
    EXPECT_NE(arrivals[0].ticket, arrivals[1].ticket);

    std::vector<std::optional<std::uint16_t>> forwardedPorts;
    const auto forward = [&](const AwayTicket& ticket) {
        access->forwardVideoPort(41000, ticket,
                                 [&](std::optional<std::uint16_t> port) { forwardedPorts.push_back(port); });
        queue->runUntilIdle();
    };
    forward(arrivals[1].ticket);
    EXPECT_EQ(forwardedPorts, (std::vector<std::optional<std::uint16_t>>{41000}));
    EXPECT_TRUE(forwarded().contains({"UDP", 41000}));
    EXPECT_EQ(router->exchanges.back().argument("NewLeaseDuration"), "900");

    // The first channel's end, handed back twice, does not count the second one off.
    access->connectionEnded(arrivals[0].ticket);
    access->connectionEnded(arrivals[0].ticket);
    forward(arrivals[0].ticket);
    EXPECT_EQ(forwardedPorts.back(), std::nullopt);
    queue->advance(61s);
    EXPECT_TRUE(forwarded().contains({"TCP", session->controlPort}));

    access->connectionEnded(arrivals[1].ticket);
    queue->advance(61s);
    EXPECT_FALSE(forwarded().contains({"TCP", session->controlPort}));
    EXPECT_FALSE(forwarded().contains({"UDP", 41000}));
}

TEST_F(AwayAccessTest, SwitchedOffItClosesEveryDoorAndSessionAndRemovesEveryMapping) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    KnockingPeer peer;
    const auto session = admit(pad, peer);
    ASSERT_TRUE(session.has_value());
    ASSERT_TRUE(connect(session->controlPort, session->sessionKey));
    EXPECT_EQ(forwarded().size(), doorPorts({pad}).size() + 1);

    access->setEnabled(false, {pad});
    queue->runUntilIdle();
    EXPECT_EQ(statuses.back(), AwayStatus::off());
    EXPECT_TRUE(forwarded().empty());
    // The doors are closed: their ports can be bound again.
    for (const std::uint16_t port : doorPorts({pad})) {
        EXPECT_TRUE(UdpSocket::bound({.port = port}).has_value()) << port;
    }
    // Off while off changes nothing.
    const auto count = statuses.size();
    access->setEnabled(false, {});
    queue->runUntilIdle();
    EXPECT_EQ(statuses.size(), count);
}

TEST_F(AwayAccessTest, AStopWhileTheRouterIsAskedForItsAddressReportsNothingAfterOff) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    router->hold();
    enable({pad});
    ASSERT_EQ(sent("GetExternalIPAddress").size(), 1u);
    bool stopped = false;
    access->stop([&] { stopped = true; });
    queue->runUntilIdle();
    EXPECT_TRUE(stopped);

    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    router->release();
    queue->runUntilIdle();
    EXPECT_EQ(statuses, (std::vector<AwayStatus>{AwayStatus::looking(), AwayStatus::off()}));
    EXPECT_TRUE(sent("AddPortMapping").empty());
    EXPECT_EQ(logged("no router"), 0);
}

TEST_F(AwayAccessTest, OffAndOnAgainQuicklyLeavesTheNewStateAndOneTicker) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    enable({pad});
    router->hold();
    access->setEnabled(false, {pad});
    access->setEnabled(true, {pad});
    queue->runUntilIdle();
    router->release();
    queue->runUntilIdle();

    EXPECT_EQ(statuses,
              (std::vector<AwayStatus>{AwayStatus::looking(), ready, AwayStatus::looking(), ready}));
    EXPECT_EQ(forwarded(), udp(doorPorts({pad})));
    EXPECT_EQ(queue->pendingCount(), 1u);
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(queue->pendingCount(), 1u);
}

TEST_F(AwayAccessTest, ARestartAfterACrashRemovesWhatItsRouterStillForwards) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    test::TemporaryFolder folder;
    settings = std::make_shared<DefaultsStore>(folder.path());
    makeAccess(router);
    enable({pad});
    KnockingPeer peer;
    ASSERT_TRUE(admit(pad, peer).has_value());
    const std::set<Mapping> left = forwarded();
    ASSERT_EQ(left.size(), doorPorts({pad}).size() + 1);

    // Crashed: nothing was removed. One more mapping was made on another network's router.
    access.reset();
    auto stored = settings->jsonValue(AwayMappingLedger::settingsKey).value();
    stored.push_back({{"protocol", "UDP"},
                      {"port", 30000},
                      {"router", "198.51.100.1:5000/ctl"},
                      {"client", "198.51.100.7"}});
    ASSERT_TRUE(settings->setJson(AwayMappingLedger::settingsKey, stored));

    settings = std::make_shared<DefaultsStore>(folder.path());
    router = std::make_shared<ScriptedRouter>();
    router->hold();
    makeAccess(router);
    access->setEnabled(true, {pad});
    queue->runUntilIdle();
    router->release();
    queue->runUntilIdle();

    // Everything it left is removed before the first pass asks the router anything.
    std::set<Mapping> removed;
    for (const auto& exchange : router->exchanges) {
        if (exchange.action() != "DeletePortMapping") {
            break;
        }
        removed.insert(mappingOf(exchange));
    }
    EXPECT_EQ(removed, left);
    EXPECT_EQ(forwarded(), udp(doorPorts({pad})));
    const auto remembered = settings->jsonValue(AwayMappingLedger::settingsKey).value();
    EXPECT_EQ(remembered.size(), doorPorts({pad}).size() + 1);
}

TEST_F(AwayAccessTest, ADoorTakenOnTheRouterNeverCountsAsRefused) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    for (int request = 0; request < 12; ++request) {
        router->script("AddPortMapping", ScriptedRouter::fault("718"));
    }
    enable({pad});
    EXPECT_EQ(statuses, (std::vector<AwayStatus>{AwayStatus::looking(), ready}));
    EXPECT_GE(logged("is taken on the router"), static_cast<int>(doorPorts({pad}).size()));
    EXPECT_EQ(logged("wouldn't forward"), 0);
}

TEST_F(AwayAccessTest, DoorsTheRouterRefusesMakeItRefusedAndTheAddressIsAskedForAgain) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    for (int request = 0; request < 12; ++request) {
        router->script("AddPortMapping", ScriptedRouter::fault("606"));
    }
    enable({pad});
    EXPECT_EQ(statuses.back(), AwayStatus::routerRefused());
    EXPECT_GE(logged("away: the router wouldn't forward door "), static_cast<int>(doorPorts({pad}).size()));
    const auto asked = sent("GetExternalIPAddress").size();
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(sent("GetExternalIPAddress").size(), asked + 1);
    // Once the router maps a door again, it is ready.
    queue->advance(5 * AwayAccess::passInterval);
    EXPECT_EQ(statuses.back(), ready);
}

TEST_F(AwayAccessTest, WithoutARouterOrBehindAnotherTranslationNoDoorIsMapped) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    makeAccess(router);
    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    enable({pad});
    EXPECT_EQ(statuses, (std::vector<AwayStatus>{AwayStatus::looking(), AwayStatus::noRouter()}));
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(statuses.size(), 2u);
    EXPECT_EQ(logged("away: no router that forwards ports: noGateway"), 1);
    EXPECT_TRUE(sent("AddPortMapping").empty());

    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(statuses.back(), ready);
    const auto mappings = sent("AddPortMapping").size();
    EXPECT_EQ(mappings, doorPorts({pad}).size());

    // The address is asked for again after 300 s; behind another translation nothing is touched.
    router->script("GetExternalIPAddress",
                   ScriptedRouter::success("GetExternalIPAddress",
                                           "<NewExternalIPAddress>100.64.1.1</NewExternalIPAddress>"));
    queue->advance(300s);
    EXPECT_EQ(statuses.back(), AwayStatus::notReachable("100.64.1.1"));
    EXPECT_EQ(sent("AddPortMapping").size(), mappings);
}

TEST_F(AwayAccessTest, ANewDeviceListIsKnownAtTheNextKnockEvenInTheFirstWindow) {
    if (!test::insidePrivateNetwork()) {
        return;
    }
    // 100 s after 1970: window 0.
    clock = test::queueClock(queue, Date(100 - Date::referenceDateInUnixTime));
    makeAccess(router);
    const AwayDevice phone = device("phone-2");
    enable({pad});
    KnockingPeer peer;
    ASSERT_TRUE(admit(pad, peer).has_value());
    EXPECT_TRUE(noReplyTo(peer, pad, knockOf(Door::Knocker(phone.key))));

    enable({pad, phone});
    const Door::Knocker knocker(phone.key);
    const auto reply = exchange(peer, doorOf(pad), knockOf(knocker));
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(Door::Reply::open(*reply, knocker).has_value());
}

} // namespace
} // namespace velm
