#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"
#include "transport/client/discovery/HostBrowser.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Hosts = std::vector<DiscoveredHost>;
using Result = ServiceBrowser::Result;
using test::FakeDiscovery;

const std::string velmType = "_velm._tcp";
const ServiceInstance office{"Office", velmType, "local", FakeDiscovery::interfaceIndex,
                             ServiceInstance::Family::ipv4};
// "École" with the accent as a combining character.
const std::string ecole = std::string("E\xcc\x81") + "cole";

Result resultNamed(std::string name, std::optional<TxtRecord> txt) {
    return Result{ServiceInstance{std::move(name), velmType, "local", 2, ServiceInstance::Family::ipv4},
                  std::move(txt)};
}

class HostBrowserTest : public ::testing::Test {
protected:
    std::shared_ptr<HostBrowser> watched() {
        auto browser = HostBrowser::make(queue, network, {2s, 1s});
        browser->setOnHosts([this](const Hosts& list) { hosts.push_back(list); });
        browser->setOnState([this](const SessionState& state) { states.push_back(state); });
        return browser;
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("browser");
    std::shared_ptr<FakeDiscovery> network = std::make_shared<FakeDiscovery>();
    std::vector<Hosts> hosts;
    std::vector<SessionState> states;
};

TEST_F(HostBrowserTest, AdvertisedHostIsListedAndFollowedWhileTheDaemonComesAndGoes) {
    network->addRemote({"Office", velmType, 40100, {}},
                       TxtRecord{{"id", "HOST-1"}, {"model", "Mac14,2"}, {"modelname", "MacBook Air"}});
    network->addRemote({"Printer", "_ipp._tcp", 631, {}}, TxtRecord{{"id", "not-a-host"}});
    auto browser = watched();
    browser->start();
    queue->runUntilIdle();
    const Hosts listed{{"HOST-1", "Office", office, DeviceModel{"Mac14,2", "MacBook Air"}}};
    EXPECT_EQ(hosts, std::vector<Hosts>{listed});

    network->setReachable(false);
    queue->advance(10s); // a list came first: no empty list from the timer
    network->setReachable(true);
    queue->runUntilIdle();
    EXPECT_EQ(states, (std::vector<SessionState>{SessionState::discovering(), SessionState::offline(),
                                                 SessionState::discovering()}));
    EXPECT_EQ(hosts, (std::vector<Hosts>{listed, Hosts{}, listed}));

    browser->stop();
    network->setReachable(false);
    queue->advance(10s);
    EXPECT_EQ(hosts.size(), 3u);
}

// What a replaced browser had queued is dropped, yet nothing is lost: its successor lists afresh.
TEST_F(HostBrowserTest, AHostThatAReplacedBrowserFoundIsListedByItsSuccessor) {
    network->addRemote({"Office", velmType, 40100, {}}, TxtRecord{{"id", "HOST-1"}});
    auto browser = watched();
    browser->start();
    browser->start();
    queue->runUntilIdle();
    const Hosts listed{{"HOST-1", "Office", office, std::nullopt}};
    EXPECT_EQ(hosts, std::vector<Hosts>{listed});
}

TEST_F(HostBrowserTest, FindingNothingIsToldOnceAfterTheDelayOfTheLatestStart) {
    auto browser = watched();
    browser->start();
    queue->advance(1500ms);
    browser->start();
    queue->advance(1999ms);
    EXPECT_TRUE(hosts.empty());
    queue->advance(1ms);
    EXPECT_EQ(hosts, std::vector<Hosts>{Hosts{}});
    queue->advance(10s);
    EXPECT_EQ(hosts.size(), 1u);
}

TEST_F(HostBrowserTest, FailedBrowsingStartsAgainAfterThePauseUnlessStopped) {
    auto browser = watched();
    const auto fail = [&] {
        network->failBrowsers("Bad state");
        queue->runUntilIdle();
    };
    browser->start();
    queue->runUntilIdle();
    fail();
    const std::vector<SessionState> failed{SessionState::discovering(), SessionState::offline()};
    EXPECT_EQ(states, failed);
    queue->advance(999ms);
    EXPECT_EQ(states, failed);
    queue->advance(1ms);
    EXPECT_EQ(states.back(), SessionState::discovering());

    fail();
    browser->stop();
    queue->advance(5s);
    EXPECT_EQ(states.size(), 4u);
    EXPECT_TRUE(hosts.empty());
}

TEST(HostBrowserHosts, TxtGivesIdentifierAndModelOneHostPerIdentifierSortedByName) {
    const auto hosts = HostBrowser::hostsFrom({
        resultNamed("studio", std::nullopt),
        resultNamed("Office", TxtRecord{{"ID", "O"}, {"Model", "Mac14,2"}, {"modelname", "MacBook Air"}}),
        resultNamed("Office (IPv6 twin)", TxtRecord{{"id", "O"}}),
        resultNamed(ecole, TxtRecord{{"id", "E"}, {"modelname", "MacBook Air"}}),
        resultNamed("Zebra", TxtRecord{{"model", "Mac14,2"}}),
    });
    // Case-sensitive scalar order of the composed names: upper case first, É (U+00C9) last.
    const Hosts expected{
        {"O", "Office", resultNamed("Office", {}).instance, DeviceModel{"Mac14,2", "MacBook Air"}},
        {"Zebra", "Zebra", resultNamed("Zebra", {}).instance, DeviceModel{"Mac14,2", std::nullopt}},
        {"studio", "studio", resultNamed("studio", {}).instance, std::nullopt},
        {"E", ecole, resultNamed(ecole, {}).instance, std::nullopt},
    };
    EXPECT_EQ(hosts, expected);
}

} // namespace
} // namespace velm
