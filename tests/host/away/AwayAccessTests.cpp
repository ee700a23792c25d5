#include "Velm_Host/away/AwayAccess.h"
#include "tests/host/away/AwayHarness.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/ScriptedRouter.h"
#include "tests/support/TemporaryFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::LoopbackPeer;
using test::ScriptedRouter;
using ForwardedPort = std::pair<std::string, std::uint16_t>;
using Statuses = std::vector<AwayStatus>;

// The service against a scripted router, inside a private network, where door ports derived from
// random keys cannot meet another program's ports.
class AwayAccessTest : public test::AwayHarness {
protected:
    // The service's clock from here on reads the seconds the returned value holds behind the queue's.
    std::shared_ptr<double> clockThatCanBeSetBack() {
        auto setBack = std::make_shared<double>(0);
        clock = [ahead = clock, setBack] { return Date(ahead().secondsSinceReferenceDate() - *setBack); };
        return setBack;
    }

    std::size_t sent(const std::string& action) const {
        return static_cast<std::size_t>(
            std::count_if(router->exchanges.begin(), router->exchanges.end(),
                          [&](const auto& exchange) { return exchange.action() == action; }));
    }

    static ForwardedPort mappingOf(const ScriptedRouter::Exchange& exchange) {
        return {exchange.argument("NewProtocol"),
                static_cast<std::uint16_t>(std::stoi(exchange.argument("NewExternalPort")))};
    }

    // What the router forwards when every request has succeeded.
    std::set<ForwardedPort> forwarded() const {
        std::set<ForwardedPort> held;
        for (const auto& exchange : router->exchanges) {
            if (exchange.action() == "AddPortMapping") {
                held.insert(mappingOf(exchange));
            } else if (exchange.action() == "DeletePortMapping") {
                held.erase(mappingOf(exchange));
            }
        }
        return held;
    }

    // What the settings remember to remove after a crash.
    std::set<ForwardedPort> remembered() const {
        std::set<ForwardedPort> held;
        if (const auto stored = settings->jsonValue(AwayMappingLedger::settingsKey)) {
            for (const auto& mapping : AwayMappingLedger::read(*stored)) {
                held.insert({std::string(PortMapper::rawValue(mapping.transport)), mapping.port});
            }
        }
        return held;
    }

    std::set<ForwardedPort> doorMappings() const {
        std::set<ForwardedPort> mappings;
        for (const std::uint16_t port : doorPorts({pad})) {
            mappings.insert({"UDP", port});
        }
        return mappings;
    }

    void enable(const std::vector<AwayDevice>& devices) {
        access->setEnabled(true, devices);
        queue->runUntilIdle();
    }
    void switchOn() {
        makeAccess(router);
        enable({pad});
    }

    // Away access on with its doors mapped, then the router stops answering until the doors count as
    // unmapped, while it still forwards them.
    void switchOnThenLoseTheRouter() {
        switchOn();
        ASSERT_EQ(forwarded(), doorMappings());
        router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
        for (int pass = 0; pass < 20 && statuses.back() != AwayStatus::noRouter(); ++pass) {
            queue->advance(AwayAccess::passInterval);
        }
        ASSERT_EQ(statuses.back(), AwayStatus::noRouter());
    }

    // The reply to a fresh knock of the device, opened.
    std::optional<Door::Answer> knock(const AwayDevice& of, LoopbackPeer& from) {
        const Door::Knocker knocker(of.key);
        const auto reply = exchange(from, doorOf(of), knockOf(knocker));
        return reply ? Door::Reply::open(*reply, knocker) : std::nullopt;
    }

    std::optional<Door::Answer::Admitted> admit(const AwayDevice& of, LoopbackPeer& from) {
        const auto answer = knock(of, from);
        if (!answer || !answer->admitted()) {
            ADD_FAILURE() << "the knock was not admitted";
            return std::nullopt;
        }
        return *answer->admitted();
    }

    // Switched on, with one admitted session and two channels arrived through it.
    std::optional<Door::Answer::Admitted> switchOnWithTwoChannels() {
        switchOn();
        auto session = admit(pad, peer);
        if (!session || !connect(session->controlPort, session->sessionKey) ||
            !connect(session->controlPort, session->sessionKey)) {
            return std::nullopt;
        }
        return session;
    }

    // Whether the bad datagram got no reply: a good knock sent after it from the same peer must be
    // the first thing to come back.
    bool noReplyTo(LoopbackPeer& from, ByteView bad) {
        from.sendTo(doorOf(pad), bad);
        return knock(pad, from).has_value();
    }

    // More failures than the test's passes ask for.
    void scriptDoorMappings(const char* code) {
        for (int request = 0; request < 30; ++request) {
            router->script("AddPortMapping", ScriptedRouter::fault(code));
        }
    }

    long logged(const std::string& text) {
        const auto lines = log.lines();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    std::shared_ptr<ScriptedRouter> router = std::make_shared<ScriptedRouter>();
    const AwayDevice pad = device("pad-0001-aaaa");
    const AwayStatus ready = AwayStatus::ready("203.0.113.7");
    LoopbackPeer peer;
};

TEST_F(AwayAccessTest, SwitchedOnItMapsEveryDoorOnceItListensAndTicksOnce) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), ready}));
    EXPECT_EQ(forwarded(), doorMappings());
    EXPECT_EQ(router->exchanges.back().argument("NewLeaseDuration"), "1500");
    EXPECT_EQ(logged("away: away access: ready(address: \"203.0.113.7\")"), 1);

    // On again with the same list: one more pass, which finds nothing to do, and one ticker.
    const auto requests = router->exchanges.size();
    enable({pad});
    EXPECT_EQ(router->exchanges.size(), requests);
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(queue->pendingCount(), 1u);
}

TEST_F(AwayAccessTest, RepeatsAnEntrysReplyByteForByteAndGivesAReplayOfAClosedOneNothing) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    const Door::Knocker knocker(pad.key);
    const Bytes knock = knockOf(knocker);
    const auto reply = exchange(peer, doorOf(pad), knock);
    ASSERT_TRUE(reply.has_value());
    const auto answer = Door::Reply::open(*reply, knocker);
    ASSERT_TRUE(answer && answer->admitted());
    const ForwardedPort control{"TCP", answer->admitted()->controlPort};
    EXPECT_TRUE(forwarded().contains(control));

    // Idle for exactly 30 s the entry stays, and the same knock from elsewhere gets the same bytes.
    queue->advance(30s);
    LoopbackPeer elsewhere;
    EXPECT_EQ(exchange(elsewhere, doorOf(pad), knock), reply);
    // Past that it is closed and unmapped, and the knock id stays spent.
    queue->advance(30s);
    EXPECT_FALSE(forwarded().contains(control));
    EXPECT_TRUE(noReplyTo(elsewhere, knock));
    EXPECT_EQ(logged("away: a knock from pad-0001"), 2);
}

TEST_F(AwayAccessTest, TamperedSkewedForeignAndLapsedKnocksGetNoReplyAndLeaveNothing) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    const AwayDevice lapsing = device("lapsing-1", Date(clock().secondsSinceReferenceDate() + 10));
    enable({pad, lapsing});
    const std::size_t doors = doorPorts({pad, lapsing}).size();
    // The keyring is built while both devices are active.
    ASSERT_TRUE(admit(pad, peer).has_value());
    queue->advance(11s);

    const Door::Knocker knocker(pad.key);
    Bytes tampered = knockOf(knocker);
    tampered[Door::tagLength + 20] ^= 0x01;
    for (const Bytes& bad :
         {tampered, knockOf(knocker, 121), knockOf(knocker, -121), knockOf(Door::Knocker(Random::secret(32))),
          knockOf(Door::Knocker(lapsing.key)), Random::bytes(Door::knockLength)}) {
        EXPECT_TRUE(noReplyTo(peer, bad));
    }
    EXPECT_EQ(logged("away: a knock from lapsing-, whose away access has lapsed"), 1);
    // Only the first knock and the six that followed the bad ones opened sessions.
    EXPECT_EQ(logged("away: a knock from pad-0001"), 7);
    EXPECT_EQ(sent("AddPortMapping"), doors + 7);
}

// Anyone who caught a knock of a device whose access has lapsed can send it again and again: that
// is told once, not once a datagram, and costs nothing after.
TEST_F(AwayAccessTest, AKnockOfALapsedDeviceSentAgainAndAgainIsLoggedOnce) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    const AwayDevice lapsing = device("lapsing-1", Date(clock().secondsSinceReferenceDate() + 10));
    enable({pad, lapsing});
    ASSERT_TRUE(admit(pad, peer).has_value());
    queue->advance(11s);

    const Door::Knocker knocker(lapsing.key);
    const Bytes caught = knockOf(knocker);
    for (int copy = 0; copy < 20; ++copy) {
        ASSERT_TRUE(noReplyTo(peer, caught));
    }
    EXPECT_TRUE(noReplyTo(peer, knockOf(knocker)));
    EXPECT_EQ(logged("whose away access has lapsed"), 1);
}

TEST_F(AwayAccessTest, AFifthKnockIsRefusedWhileFourSessionsAreInUseAndEvictsTheIdlestOtherwise) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    std::vector<ForwardedPort> controls;
    for (int index = 0; index < 4; ++index) {
        const auto admitted = admit(pad, peer);
        ASSERT_TRUE(admitted && connect(admitted->controlPort, admitted->sessionKey));
        controls.push_back({"TCP", admitted->controlPort});
    }
    const auto refusal = knock(pad, peer);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_TRUE(refusal->isRefused());

    // The second session ends: its entry is the one a fresh knock evicts.
    access->connectionEnded(arrivals[1].ticket);
    const auto fifth = admit(pad, peer);
    ASSERT_TRUE(fifth.has_value());
    auto expected = doorMappings();
    expected.insert({controls[0], controls[2], controls[3], {"TCP", fifth->controlPort}});
    EXPECT_EQ(forwarded(), expected);
}

// An entry lives on after its knock, but not the access of the device that knocked.
TEST_F(AwayAccessTest, AChannelOfADeviceWhoseAccessLapsedSinceItsKnockIsTurnedAway) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    const AwayDevice lapsing = device("lapsing-2", Date(clock().secondsSinceReferenceDate() + 10));
    enable({pad, lapsing});
    const auto session = admit(lapsing, peer);
    ASSERT_TRUE(session);
    queue->advance(11s);

    auto closed = std::make_shared<bool>(false);
    const auto channel = ControlChannel::outgoing(Endpoint::hostPort("127.0.0.1", session->controlPort),
                                                  PreSharedKey::forAway(session->sessionKey));
    channel->setOnEvent([closed](const ControlChannel::Event& event) {
        *closed = *closed || event.get<ControlChannel::Event::Closed>() != nullptr;
    });
    channel->start(queue);
    clients.push_back(channel);
    EXPECT_TRUE(test::pumpUntil(*queue, [&] { return *closed; }));
    EXPECT_TRUE(arrivals.empty());
}

TEST_F(AwayAccessTest, ATicketCountsOnceAndForwardsVideoOnlyWhileItsChannelLives) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    const auto session = switchOnWithTwoChannels();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(arrivals[0].ticket.knockID, arrivals[1].ticket.knockID);
    EXPECT_NE(arrivals[0].ticket, arrivals[1].ticket);

    std::vector<std::optional<std::uint16_t>> ports;
    const auto forward = [&](const AwayTicket& ticket) {
        access->forwardVideoPort(41000, ticket,
                                 [&](std::optional<std::uint16_t> port) { ports.push_back(port); });
        queue->runUntilIdle();
    };
    forward(arrivals[1].ticket);
    EXPECT_TRUE(forwarded().contains({"UDP", 41000}));
    EXPECT_EQ(router->exchanges.back().argument("NewLeaseDuration"), "900");

    // The first channel's end, handed back twice, does not count the second one off.
    access->connectionEnded(arrivals[0].ticket);
    access->connectionEnded(arrivals[0].ticket);
    forward(arrivals[0].ticket);
    EXPECT_EQ(ports, (std::vector<std::optional<std::uint16_t>>{41000, std::nullopt}));
    queue->advance(61s);
    EXPECT_TRUE(forwarded().contains({"TCP", session->controlPort}));

    access->connectionEnded(arrivals[1].ticket);
    queue->advance(61s);
    EXPECT_EQ(forwarded(), doorMappings());
}

// A session's video socket closes with it; the entry may live on for another channel, but nothing may go
// on forwarding to the closed port, which any other program may take next.
TEST_F(AwayAccessTest, AVideoPortIsNoLongerForwardedOnceItsChannelEnds) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    const auto session = switchOnWithTwoChannels();
    ASSERT_TRUE(session.has_value());
    for (std::size_t index = 0; index < 2; ++index) {
        access->forwardVideoPort(static_cast<std::uint16_t>(41000 + index), arrivals[index].ticket,
                                 [](auto) {});
    }
    queue->runUntilIdle();
    ASSERT_TRUE(forwarded().contains({"UDP", 41000}) && forwarded().contains({"UDP", 41001}));

    access->connectionEnded(arrivals[0].ticket);
    queue->runUntilIdle();
    EXPECT_FALSE(forwarded().contains({"UDP", 41000}));
    EXPECT_TRUE(forwarded().contains({"UDP", 41001}) && forwarded().contains({"TCP", session->controlPort}));

    // The renewals that follow leave it removed.
    queue->advance(std::chrono::seconds(static_cast<int>(AwayAccess::sessionRenewalSeconds)) +
                   2 * AwayAccess::passInterval);
    EXPECT_FALSE(forwarded().contains({"UDP", 41000}));
    EXPECT_TRUE(forwarded().contains({"UDP", 41001}));
}

TEST_F(AwayAccessTest, AStopWhileTheRouterIsAskedForItsAddressReportsNothingAfterOff) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    router->hold();
    enable({pad});
    ASSERT_EQ(sent("GetExternalIPAddress"), 1u);
    bool stopped = false;
    access->stop([&] { stopped = true; });
    queue->runUntilIdle();
    EXPECT_TRUE(stopped);

    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    router->release();
    queue->runUntilIdle();
    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), AwayStatus::off()}));
    EXPECT_EQ(sent("AddPortMapping"), 0u);
}

TEST_F(AwayAccessTest, AStopAsAPassWithAFollowUpEndsLeavesNothingOpenAfterOff) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    router->hold();
    enable({pad});
    // Asked for while the first pass waits for the router: one more pass is to follow it.
    enable({pad});
    // The quit comes just as the first pass reports.
    access->setOnStatus([this](const AwayStatus& status) {
        statuses.push_back(status);
        if (status == ready && statuses.size() == 2) {
            access->stop({});
        }
    });
    router->release();
    queue->runUntilIdle();
    queue->advance(AwayAccess::passInterval);

    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), ready, AwayStatus::off()}));
    // A mapping already asked for when the stop came is removed again.
    EXPECT_TRUE(forwarded().empty());
}

TEST_F(AwayAccessTest, OffAndOnAgainQuicklyLeavesTheNewStateAndOneTicker) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    router->hold();
    access->setEnabled(false, {pad});
    access->setEnabled(true, {pad});
    queue->runUntilIdle();
    router->release();
    queue->runUntilIdle();

    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), ready, AwayStatus::looking(), ready}));
    EXPECT_EQ(forwarded(), doorMappings());
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(queue->pendingCount(), 1u);
}

// Switched on again while the stop before still removes its mappings: the doors mapped anew are neither
// removed by that stop nor forgotten by the settings, whatever order the router answers in.
TEST_F(AwayAccessTest, OnAgainWhileTheStopBeforeStillRemovesItsMappingsKeepsTheNewOnesRemembered) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    ASSERT_EQ(remembered(), doorMappings());
    router->hold();
    access->setEnabled(false, {pad});
    access->setEnabled(true, {pad});
    queue->runUntilIdle();
    for (int answered = 0; answered < 100 && router->heldCount() > 0; ++answered) {
        router->answerHeld();
        queue->runUntilIdle();
    }
    router->release();
    queue->runUntilIdle();

    EXPECT_EQ(statuses.back(), ready);
    EXPECT_EQ(forwarded(), doorMappings());
    EXPECT_EQ(remembered(), forwarded());
}

TEST_F(AwayAccessTest, ARestartAfterACrashRemovesWhatItLeftOnThisRouterBeforeItMapsAnything) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    test::TemporaryFolder folder;
    settings = std::make_shared<DefaultsStore>(folder.path());
    switchOn();
    ASSERT_TRUE(admit(pad, peer).has_value());
    const std::set<ForwardedPort> left = forwarded();

    // Crashed, with one more mapping remembered from another network's router.
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

    std::set<ForwardedPort> removed;
    for (std::size_t index = 0; index < left.size(); ++index) {
        EXPECT_EQ(router->exchanges[index].action(), "DeletePortMapping");
        removed.insert(mappingOf(router->exchanges[index]));
    }
    EXPECT_EQ(removed, left);
    EXPECT_EQ(forwarded(), doorMappings());
    EXPECT_EQ(settings->jsonValue(AwayMappingLedger::settingsKey)->size(), doorMappings().size() + 1);
}

TEST_F(AwayAccessTest, MappingsTheRouterCouldNotRemoveAreRemovedAtTheNextStart) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOn();
    const std::set<ForwardedPort> doors = forwarded();
    ASSERT_GE(doors.size(), 2u);
    // Switched off while the router is unreachable, except for one door it says it never held.
    router->script("DeletePortMapping", ScriptedRouter::fault("714"));
    for (std::size_t index = 1; index < doors.size(); ++index) {
        router->script("DeletePortMapping", PortMapperFailure::noGateway());
        // Nor is it found again before the stop is over, to remove what the ledger still holds.
        router->scriptSearch(PortMapperFailure::noGateway());
    }
    access->setEnabled(false, {pad});
    queue->runUntilIdle();
    ASSERT_EQ(sent("DeletePortMapping"), doors.size());

    std::set<ForwardedPort> kept;
    for (const auto& mapping :
         AwayMappingLedger::read(*settings->jsonValue(AwayMappingLedger::settingsKey))) {
        kept.insert({std::string(PortMapper::rawValue(mapping.transport)), mapping.port});
    }
    std::set<ForwardedPort> unreached(std::next(doors.begin()), doors.end());
    EXPECT_EQ(kept, unreached);

    access.reset();
    router = std::make_shared<ScriptedRouter>();
    makeAccess(router);
    std::set<ForwardedPort> removed;
    for (const auto& exchange : router->exchanges) {
        EXPECT_EQ(exchange.action(), "DeletePortMapping");
        removed.insert(mappingOf(exchange));
    }
    EXPECT_EQ(removed, unreached);
    EXPECT_TRUE(settings->jsonValue(AwayMappingLedger::settingsKey)->empty());
}

TEST_F(AwayAccessTest, AClockSetBackStillRenewsTheSessionsMappingsBeforeTheirLeasesRunOut) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    const auto setBack = clockThatCanBeSetBack();
    switchOn();
    const auto session = admit(pad, peer);
    ASSERT_TRUE(session && connect(session->controlPort, session->sessionKey));
    const auto controlMappings = [&] {
        return std::count_if(router->exchanges.begin(), router->exchanges.end(), [&](const auto& exchange) {
            return exchange.action() == "AddPortMapping" &&
                   mappingOf(exchange) == ForwardedPort{"TCP", session->controlPort};
        });
    };
    ASSERT_EQ(controlMappings(), 1);

    *setBack = 3600;
    queue->advance(AwaySessions::sessionLease);
    EXPECT_GE(controlMappings(), 2);
}

TEST_F(AwayAccessTest, AClockSetBackStillClosesAnIdleSessionAndRemovesItsMapping) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    const auto setBack = clockThatCanBeSetBack();
    switchOn();
    const auto session = admit(pad, peer);
    ASSERT_TRUE(session.has_value());
    const ForwardedPort control{"TCP", session->controlPort};
    ASSERT_TRUE(forwarded().contains(control));

    // Never used: after the idle limit, counted from when the clock was set back, it is gone.
    *setBack = 3600;
    queue->advance(AwayAccess::passInterval * 4);
    EXPECT_FALSE(forwarded().contains(control));
}

TEST_F(AwayAccessTest, AClockSetBackHasTheDoorsItKeepsMappedAgainAtOnce) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    const auto setBack = clockThatCanBeSetBack();
    switchOn();
    // Set back into the window before: the current window's door is still wanted then.
    const ForwardedPort kept{"UDP", doorOf(pad)};
    const auto keptMappings = [&] {
        return std::count_if(router->exchanges.begin(), router->exchanges.end(), [&](const auto& exchange) {
            return exchange.action() == "AddPortMapping" && mappingOf(exchange) == kept;
        });
    };
    ASSERT_EQ(keptMappings(), 1);

    *setBack = 400;
    queue->advance(AwayAccess::passInterval);
    EXPECT_TRUE(doorPorts({pad}).contains(kept.second));
    EXPECT_EQ(keptMappings(), 2);
}

TEST_F(AwayAccessTest, DoorsTakenOnTheRouterNeverMakeItRefused) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    scriptDoorMappings("718");
    enable({pad});
    queue->advance(2 * AwayAccess::passInterval);
    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), ready}));
    EXPECT_GE(logged("is taken on the router"), static_cast<long>(doorPorts({pad}).size()));
}

TEST_F(AwayAccessTest, DoorsTheRouterRefusesMakeItRefusedAndItsAddressIsAskedForAgain) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    scriptDoorMappings("606");
    enable({pad});
    EXPECT_EQ(statuses.back(), AwayStatus::routerRefused());
    EXPECT_GE(logged("away: the router wouldn't forward door "), static_cast<long>(doorPorts({pad}).size()));
    const auto asked = sent("GetExternalIPAddress");
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(sent("GetExternalIPAddress"), asked + 1);
}

TEST_F(AwayAccessTest, WithoutARouterOrBehindAnotherTranslationNoDoorIsMapped) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    enable({pad});
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(statuses, (Statuses{AwayStatus::looking(), AwayStatus::noRouter()}));
    EXPECT_EQ(logged("away: no router that forwards ports: noGateway"), 1);
    EXPECT_EQ(sent("AddPortMapping"), 0u);

    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(statuses.back(), ready);
    EXPECT_EQ(forwarded(), doorMappings());

    // The address is asked for again after 300 s; behind another translation nothing is touched.
    router->script("GetExternalIPAddress",
                   ScriptedRouter::success("GetExternalIPAddress",
                                           "<NewExternalIPAddress>100.64.1.1</NewExternalIPAddress>"));
    const auto mappings = sent("AddPortMapping");
    queue->advance(300s);
    EXPECT_EQ(statuses.back(), AwayStatus::notReachable("100.64.1.1"));
    EXPECT_EQ(sent("AddPortMapping"), mappings);
}

// The router stopped answering for a moment, so the doors count as unmapped, yet their mappings are
// still on it: switching off removes them from the router that answers then.
TEST_F(AwayAccessTest, SwitchedOffWhileWithoutARouterItRemovesTheMappingsTheRouterStillHolds) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOnThenLoseTheRouter();

    access->setEnabled(false, {pad});
    queue->runUntilIdle();
    EXPECT_EQ(statuses.back(), AwayStatus::off());
    EXPECT_TRUE(forwarded().empty());
    EXPECT_TRUE(settings->jsonValue(AwayMappingLedger::settingsKey)->empty());

    // On again: the doors are mapped afresh once the sweep is over, and not removed after.
    enable({pad});
    EXPECT_EQ(statuses.back(), ready);
    EXPECT_EQ(forwarded(), doorMappings());
}

// After the router stopped answering for a moment the doors count as unmapped, yet it still forwards
// them: a door closed then is removed from it all the same.
TEST_F(AwayAccessTest, ADoorClosedAfterTheRouterStoppedAnsweringIsRemovedFromIt) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    switchOnThenLoseTheRouter();

    // The device's access was withdrawn meanwhile.
    enable({});
    EXPECT_EQ(statuses.back(), ready);
    EXPECT_TRUE(forwarded().empty());
}

TEST_F(AwayAccessTest, ARouterWithoutAnAddressYetIsAskedAgainAtTheNextPass) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    router->script("GetExternalIPAddress",
                   ScriptedRouter::success("GetExternalIPAddress",
                                           "<NewExternalIPAddress>0.0.0.0</NewExternalIPAddress>"));
    enable({pad});
    EXPECT_EQ(statuses.back(), AwayStatus::notReachable("0.0.0.0"));
    EXPECT_EQ(sent("AddPortMapping"), 0u);

    // Its line came up meanwhile.
    queue->advance(AwayAccess::passInterval);
    EXPECT_EQ(statuses.back(), ready);
    EXPECT_EQ(forwarded(), doorMappings());
}

TEST_F(AwayAccessTest, ANewDeviceListIsKnownAtTheNextKnockEvenInTheFirstWindow) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    // 100 s after 1970: window 0.
    clock = test::queueClock(queue, Date(100 - Date::referenceDateInUnixTime));
    makeAccess(router);
    const AwayDevice phone = device("phone-2");
    enable({pad});
    ASSERT_TRUE(admit(pad, peer).has_value());
    EXPECT_TRUE(noReplyTo(peer, knockOf(Door::Knocker(phone.key))));

    enable({pad, phone});
    const Door::Knocker knocker(phone.key);
    const auto reply = exchange(peer, doorOf(pad), knockOf(knocker));
    EXPECT_TRUE(reply && Door::Reply::open(*reply, knocker));
}

// The host model calls again whenever something may have changed, often with the same list: every call
// while on runs a pass at once, and the next knock builds the keyring afresh.
TEST_F(AwayAccessTest, EveryCallWhileOnRunsAPassAndRenewsTheKeyringAlsoWithTheSameList) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    makeAccess(router);
    router->script("GetExternalIPAddress", PortMapperFailure::noGateway());
    const AwayDevice lapsing = device("lapsing", Date(clock().secondsSinceReferenceDate() + 10));
    const AwayDevice seventh = device("seventh");
    const std::vector<AwayDevice> devices{lapsing,      pad,          device("d3"), device("d4"),
                                          device("d5"), device("d6"), seventh};
    enable(devices);
    EXPECT_EQ(statuses.back(), AwayStatus::noRouter());
    enable(devices);
    EXPECT_EQ(statuses.back(), ready);

    // Only the first six have access, until the first one's lapses.
    const Door::Knocker knocker(seventh.key);
    EXPECT_TRUE(noReplyTo(peer, knockOf(knocker)));
    queue->advance(11s);
    enable(devices);
    const auto reply = exchange(peer, doorOf(pad), knockOf(knocker));
    EXPECT_TRUE(reply && Door::Reply::open(*reply, knocker));
}

} // namespace
} // namespace velm
