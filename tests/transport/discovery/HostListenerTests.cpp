#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pump.h"
#include "tests/support/RawTls.h"
#include "transport/channel/ControlChannel.h"
#include "transport/discovery/HostListener.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace velm {

namespace {

using namespace std::chrono_literals;
using State = HostListener::State;
using test::RawListener;
using test::RawSocket;
using test::RawTlsPeer;

const std::string velmType = "_velm._tcp";

std::vector<PreSharedKey> deviceKeys(std::uint8_t fill) {
    return {*PreSharedKey::forDevice("DEVICE-1", Bytes(32, fill))};
}

RawTlsPeer::Options clientOf(const PreSharedKey& key) {
    return {key.identity(), Bytes(key.key().data(), key.key().data() + 32)};
}
RawTlsPeer::Options deviceClient(std::uint8_t fill) {
    return clientOf(deviceKeys(fill)[0]);
}

// A listener on virtual time whose sockets work in real time, reporting onto the manual queue the test runs.
class HostListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener->setOnState([this](const State& state) { states.push_back(state); });
        listener->setOnConnection(
            [this](std::shared_ptr<ControlChannel> channel) { channels.push_back(channel); });
    }

    bool pump(const std::function<bool()>& condition) { return test::pumpUntil(*queue, condition); }

    // Pumps until the latest start has ended in a port or a failure, running retries as they come due.
    std::optional<State> settle() {
        bool settled = pump([&] {
            if (!states.empty() && states.back().kind() != State::Kind::starting) {
                return true;
            }
            queue->advance(options.retryDelay);
            return false;
        });
        return settled ? std::optional(states.back()) : std::nullopt;
    }

    // The port of the advertising the latest start settled in, or 0.
    std::uint16_t advertisedPort() {
        const auto settled = settle();
        return settled && settled->kind() == State::Kind::advertising ? settled->port() : 0;
    }

    // Failed attempts, as the log tells them.
    std::size_t failures() {
        return static_cast<std::size_t>(std::ranges::count_if(log.lines(), [](const std::string& line) {
            return line.starts_with("discovery: listener state: failed");
        }));
    }
    std::size_t count(State::Kind kind) const {
        return static_cast<std::size_t>(std::ranges::count(states, kind, &State::kind));
    }

    HostListener::Options options{DeviceModel{"Mac14,2", "MacBook Air"}, 250ms, 5s};
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("listener");
    std::shared_ptr<test::FakeDiscovery> network = std::make_shared<test::FakeDiscovery>();
    std::shared_ptr<HostListener> listener = HostListener::make(queue, network, options);
    std::vector<State> states;
    std::vector<std::shared_ptr<ControlChannel>> channels;
    LogCapture log;
};

TEST_F(HostListenerTest, AdvertisesTheHostAndItsModelOnTheSystemsPort) {
    listener->start("Office", "HOST-1", deviceKeys(1));
    const auto port = advertisedPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::advertising(port)}));

    ASSERT_TRUE(pump([&] { return !network->published().empty(); }));
    const TxtRecord txt{{"id", "HOST-1"}, {"model", "Mac14,2"}, {"modelname", "MacBook Air"}};
    EXPECT_EQ(network->published(), (std::vector<ServiceAdvert>{{"Office", velmType, port, txt}}));
}

// Nobody finding the host is no failure of the listener: devices still connect by address and port.
TEST_F(HostListenerTest, TellsWhetherTheHostIsFoundApartFromItsState) {
    using Advert = ServicePublisher::State;
    std::vector<Advert> adverts;
    listener->setOnAdvertisement([&](const Advert& advert) { adverts.push_back(advert); });
    network->setReachable(false);
    listener->start("Office", "HOST-1", deviceKeys(1));
    const auto port = advertisedPort();
    ASSERT_TRUE(pump([&] { return !adverts.empty(); }));
    EXPECT_EQ(adverts, std::vector{Advert::unavailable(test::FakeDiscovery::unreachable)});
    EXPECT_TRUE(RawTlsPeer::connect(port, deviceClient(1))->handshakeSucceeded());

    network->setReachable(true);
    ASSERT_TRUE(pump([&] { return adverts.back().kind() == Advert::Kind::registered; }));
    EXPECT_EQ(adverts.back(), Advert::registered("Office"));
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::advertising(port)}));
}

TEST_F(HostListenerTest, UnnamedListenerAdvertisesNothingAndClosesConnectionsNoOneTakes) {
    listener->start(std::nullopt, "HOST-1", "123456");
    const auto port = advertisedPort();
    ASSERT_NE(port, 0);
    const RawTlsPeer::Options client = clientOf(PreSharedKey::fromSecret("123456"));
    EXPECT_TRUE(RawTlsPeer::connect(port, client)->handshakeSucceeded());
    EXPECT_TRUE(pump([&] { return channels.size() == 1; }));
    EXPECT_TRUE(network->published().empty());

    listener->setOnConnection(nullptr);
    auto ignored = RawTlsPeer::connect(port, client);
    ASSERT_TRUE(ignored->handshakeSucceeded());
    std::atomic<bool> ended = false;
    std::thread reader([&] {
        ignored->readToEnd();
        ended = true;
    });
    EXPECT_TRUE(pump([&] { return ended.load(); }));
    reader.join();
}

// The pairing window counts wrong tries: a failed handshake and its offered identity, current start only.
TEST_F(HostListenerTest, PassesOnFailedHandshakesOfTheCurrentStartWithTheOfferedIdentity) {
    std::vector<std::optional<std::string>> failed;
    listener->setOnHandshakeFailed([&](std::optional<std::string> identity) { failed.push_back(identity); });
    listener->start(std::nullopt, "HOST-1", "123456");
    const auto port = advertisedPort();
    ASSERT_NE(port, 0);
    const auto wrongCode = PreSharedKey::fromSecret("654321");
    EXPECT_FALSE(RawTlsPeer::connect(port, clientOf(wrongCode))->handshakeSucceeded());
    ASSERT_TRUE(pump([&] { return failed.size() == 1; }));
    EXPECT_EQ(failed.front(), wrongCode.identity());

    listener->start(std::nullopt, "HOST-1", deviceKeys(1));
    EXPECT_EQ(settle(), State::advertising(port));
    EXPECT_FALSE(RawTlsPeer::connect(port, deviceClient(2))->handshakeSucceeded());
    ASSERT_TRUE(pump([&] { return failed.size() == 2; }));
    EXPECT_EQ(failed.back(), "DEVICE-1");
}

TEST_F(HostListenerTest, PortIsKeptAcrossRestartsAndStops) {
    const auto preferred = RawListener::portOutsideEphemeralRange();
    ASSERT_NE(preferred, 0);
    listener->setPreferredPort(preferred);
    listener->start("Office", "HOST-1", deviceKeys(1));
    ASSERT_EQ(settle(), State::advertising(preferred));

    // New keys: the same port, and only the new keys are let in.
    listener->start("Office", "HOST-1", deviceKeys(2));
    EXPECT_EQ(settle(), State::advertising(preferred));
    EXPECT_TRUE(RawTlsPeer::connect(preferred, deviceClient(2))->handshakeSucceeded());
    EXPECT_FALSE(RawTlsPeer::connect(preferred, deviceClient(1))->handshakeSucceeded());

    // A preferred port set once a port was chosen changes nothing.
    listener->setPreferredPort(RawListener().port());
    listener->stop();
    listener->start("Office", "HOST-1", deviceKeys(2));
    EXPECT_EQ(settle(), State::advertising(preferred));
    EXPECT_EQ(count(State::Kind::stopped), 1u);
    EXPECT_EQ(count(State::Kind::failed), 0u);
}

// New keys reach the listener that runs: no new state, no new advertisement, and only the new keys are let
// in from then on.
TEST_F(HostListenerTest, NewKeysTakeEffectWithoutAStart) {
    std::size_t failed = 0;
    listener->setOnHandshakeFailed([&](std::optional<std::string>) { ++failed; });
    listener->start("Office", "HOST-1", deviceKeys(1));
    const auto port = advertisedPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(pump([&] { return network->published().size() == 1; }));

    listener->setKeys(deviceKeys(2));
    ASSERT_TRUE(pump([&] { return RawTlsPeer::connect(port, deviceClient(2))->handshakeSucceeded(); }));
    const std::size_t failedBefore = failed;
    EXPECT_FALSE(RawTlsPeer::connect(port, deviceClient(1))->handshakeSucceeded());
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::advertising(port)}));
    EXPECT_EQ(network->published().size(), 1u);
    // The old key's refusal reaches this queue before the test ends, as does the stop: nothing is left
    // waiting on the queue, which would hold the listener.
    EXPECT_TRUE(pump([&] { return failed == failedBefore + 1; }));
    listener->stop();
    EXPECT_TRUE(pump([&] { return states.back() == State::stopped(); }));
}

TEST_F(HostListenerTest, BusyKeptPortIsTriedFiveTimesThenAnyPortIsTaken) {
    RawListener holder;
    listener->setPreferredPort(holder.port());
    listener->start("Office", "HOST-1", deviceKeys(1));
    for (int attempt = 1; attempt <= HostListener::keptPortAttempts; ++attempt) {
        ASSERT_TRUE(pump([&] { return failures() == static_cast<std::size_t>(attempt); })) << attempt;
        EXPECT_EQ(count(State::Kind::starting), static_cast<std::size_t>(attempt));
        queue->advance(options.retryDelay - 1ms);
        EXPECT_EQ(count(State::Kind::starting), static_cast<std::size_t>(attempt));
        queue->advance(1ms);
    }
    const auto port = advertisedPort();
    EXPECT_NE(port, 0);
    EXPECT_NE(port, holder.port());
    EXPECT_EQ(count(State::Kind::starting), 6u);
    EXPECT_EQ(count(State::Kind::failed), 0u);
}

TEST_F(HostListenerTest, BusyExplicitPortFailsAtOnce) {
    RawListener holder;
    listener->start("Office", "HOST-1", deviceKeys(1), holder.port());
    const auto settled = settle();
    ASSERT_TRUE(settled && settled->kind() == State::Kind::failed);
    EXPECT_FALSE(settled->message().empty());
    queue->advance(10s);
    EXPECT_EQ(count(State::Kind::starting), 1u);
}

TEST_F(HostListenerTest, StopCallsOffAPendingRetry) {
    RawListener holder;
    listener->setPreferredPort(holder.port());
    listener->start("Office", "HOST-1", deviceKeys(1));
    ASSERT_TRUE(pump([&] { return failures() == 1; }));
    listener->stop();
    queue->advance(10s);
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::stopped()}));
}

TEST_F(HostListenerTest, StopAndDroppingCloseThePortAndWithdrawTheService) {
    listener->stop();
    queue->runUntilIdle();
    EXPECT_TRUE(states.empty());

    for (bool drop : {false, true}) {
        listener->start("Office", "HOST-1", deviceKeys(1));
        const auto port = advertisedPort();
        ASSERT_NE(port, 0);
        ASSERT_TRUE(pump([&] { return !network->published().empty(); }));
        if (drop) {
            listener.reset();
        } else {
            listener->stop();
            queue->runUntilIdle();
            EXPECT_EQ(states.back(), State::stopped());
        }
        EXPECT_TRUE(network->published().empty());
        EXPECT_TRUE(pump([&] { return RawSocket::connect(port) == nullptr; }));
    }
}

} // namespace
} // namespace velm
