#include "Velm_Host/away/AwayAccess.h"
#include "tests/host/away/AwayHarness.h"
#include "tests/support/FakeGateway.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/away/router/RouterNetwork.h"

#include <gtest/gtest.h>
#include <string>
#include <variant>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeGateway;

// The whole road of a device from away, inside a private network: the router is a fake Internet
// Gateway Device found by the real multicast search, and the device knocks with its door client.
class AwayAccessGatewayTest : public test::AwayHarness {
protected:
    bool forwards(const std::string& protocol, std::uint16_t port) const {
        return gateway->mappings().contains({protocol, port});
    }

    bool forwardsDoorsOf(const AwayDevice& of) const {
        const auto mappings = gateway->mappings();
        for (const std::uint16_t port : doorPorts({of})) {
            const auto mapping = mappings.find({"UDP", port});
            if (mapping == mappings.end() || mapping->second.internalPort != port ||
                mapping->second.lease != "1500") {
                return false;
            }
        }
        return true;
    }

    // The door client knocks at the real time.
    void SetUp() override { clock = test::queueClock(queue, Date::now()); }

    std::unique_ptr<FakeGateway> gateway;
    const AwayDevice pad = device("pad-0001-aaaa");
};

TEST_F(AwayAccessGatewayTest, APairedDeviceReachesTheHostFromAwayAndLeavesNothingBehind) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    gateway = std::make_unique<FakeGateway>(true);
    makeAccess(RouterNetwork::make());
    access->setEnabled(true, {pad});
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !statuses.empty() && forwardsDoorsOf(pad); }));
    EXPECT_EQ(statuses.back(), AwayStatus::ready(std::string(FakeGateway::defaultExternalAddress)));
    EXPECT_EQ(gateway->mappings().size(), doorPorts({pad}).size());

    const DoorClient::Outcome outcome = knockWithClient(pad);
    const auto* admitted = std::get_if<DoorClient::Admitted>(&outcome);
    ASSERT_NE(admitted, nullptr);
    ASSERT_TRUE(forwards("TCP", admitted->controlPort));
    EXPECT_EQ(gateway->mappings().at({"TCP", admitted->controlPort}).lease, "900");
    ASSERT_TRUE(connect(admitted->controlPort, admitted->sessionKey));
    // The host model's end of the channel, started as the model starts it.
    // It outlives the test's body: the handler must not hold anything of it.
    auto hostReady = std::make_shared<bool>(false);
    arrivals[0].channel->setOnEvent([hostReady](const ControlChannel::Event& event) {
        *hostReady = *hostReady || event.get<ControlChannel::Event::Ready>() != nullptr;
    });
    arrivals[0].channel->start(queue);
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return *hostReady; }));
    EXPECT_EQ(arrivals[0].channel->pskIdentity(), "velm-away");

    std::optional<std::optional<std::uint16_t>> videoPort; // set once answered
    access->forwardVideoPort(41000, arrivals[0].ticket,
                             [&](std::optional<std::uint16_t> port) { videoPort.emplace(port); });
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return videoPort.has_value(); }));
    EXPECT_EQ(*videoPort, 41000);
    EXPECT_EQ(gateway->mappings().at({"UDP", 41000}).internalPort, 41000);

    // Once the session ends its entry stays for 30 s, then goes with its mappings.
    access->connectionEnded(arrivals[0].ticket);
    queue->advance(30s);
    queue->runUntilIdle();
    EXPECT_TRUE(forwards("TCP", admitted->controlPort));
    // The next pass is timed from the end of the last, which may have waited for the router. The doors
    // stay, those of a window that began meanwhile too.
    ASSERT_TRUE(test::pumpUntilWithTime(*queue, 120s, [&] {
        return !forwards("TCP", admitted->controlPort) && !forwards("UDP", 41000) && forwardsDoorsOf(pad);
    }));

    access->setEnabled(false, {pad});
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return statuses.back() == AwayStatus::off(); }));
    EXPECT_TRUE(gateway->mappings().empty());
}

TEST_F(AwayAccessGatewayTest, AfterACrashTheNextStartRemovesTheMappingsLeftOnTheRouter) {
    VELM_ONLY_IN_PRIVATE_NETWORK();
    test::TemporaryFolder folder;
    gateway = std::make_unique<FakeGateway>(true);
    settings = std::make_shared<DefaultsStore>(folder.path());
    makeAccess(RouterNetwork::make());
    access->setEnabled(true, {pad});
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return forwardsDoorsOf(pad); }));

    access.reset();
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return queue.use_count() == 1; }));
    EXPECT_TRUE(forwardsDoorsOf(pad));

    // The next start, with away access left off.
    settings = std::make_shared<DefaultsStore>(folder.path());
    makeAccess(RouterNetwork::make());
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return gateway->mappings().empty(); }));
    ASSERT_TRUE(test::pumpUntil(
        *queue, [&] { return settings->jsonValue(AwayMappingLedger::settingsKey)->empty(); }));
}

} // namespace
} // namespace velm
