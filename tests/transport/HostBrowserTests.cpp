#include "platform/discovery/Discovery.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/LogCapture.h"
#include "transport/HostBrowser.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Hosts = std::vector<DiscoveredHost>;
using Result = ServiceBrowser::Result;

const std::string velmType = "_velm._tcp";

Result resultNamed(std::string name, std::optional<TxtRecord> txt) {
    return Result{ServiceInstance{std::move(name), velmType, "local", 2, ServiceInstance::Family::ipv4},
                  std::move(txt)};
}

// A discovery whose browsers the test drives by hand, for states the fake network never reports.
class ScriptedDiscovery final : public Discovery {
public:
    struct Browser final : ServiceBrowser {
        explicit Browser(ScriptedDiscovery& owner) : owner(owner) {}
        ~Browser() override { ++owner.destroyed; }
        void start(std::string type, StateHandler state, ResultsHandler results) override {
            owner.types.push_back(std::move(type));
            owner.onState = std::move(state);
            owner.onResults = std::move(results);
        }
        void stop() override {}
        ScriptedDiscovery& owner;
    };

    std::unique_ptr<ServicePublisher> makePublisher(std::shared_ptr<Queue>) override { return nullptr; }
    std::unique_ptr<ServiceBrowser> makeBrowser(std::shared_ptr<Queue>) override {
        return std::make_unique<Browser>(*this);
    }
    std::unique_ptr<InstanceResolver> makeResolver(std::shared_ptr<Queue>) override { return nullptr; }

    std::vector<std::string> types;
    int destroyed = 0;
    ServiceBrowser::StateHandler onState;
    ServiceBrowser::ResultsHandler onResults;
};

class HostBrowserTest : public ::testing::Test {
protected:
    void watch(HostBrowser& browser) {
        browser.setOnHosts([this](const Hosts& list) { hosts.push_back(list); });
        browser.setOnState([this](const SessionState& state) { states.push_back(state); });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("browser");
    std::shared_ptr<test::FakeDiscovery> network = std::make_shared<test::FakeDiscovery>();
    std::shared_ptr<HostBrowser> browser = HostBrowser::make(queue, network, {2s, 1s});
    std::vector<Hosts> hosts;
    std::vector<SessionState> states;
    LogCapture log;
};

TEST_F(HostBrowserTest, AdvertisedHostIsListedWithItsIdentifierModelAndEndpoint) {
    network->addRemote({"Office", velmType, 40100, {}},
                       TxtRecord{{"id", "HOST-1"}, {"model", "Mac14,2"}, {"modelname", "MacBook Air"}});
    network->addRemote({"Printer", "_ipp._tcp", 631, {}}, TxtRecord{{"id", "not-a-host"}});
    watch(*browser);
    browser->start();
    queue->runUntilIdle();

    EXPECT_EQ(states, std::vector<SessionState>{SessionState::discovering()});
    ASSERT_EQ(hosts.size(), 1u);
    const Hosts expected{{"HOST-1", "Office",
                          ServiceInstance{"Office", velmType, "local", test::FakeDiscovery::interfaceIndex,
                                          ServiceInstance::Family::ipv4},
                          DeviceModel{"Mac14,2", "MacBook Air"}}};
    EXPECT_EQ(hosts[0], expected);
    EXPECT_TRUE(log.contains("discovery: browser state: browsing"));

    // A list came first, so the empty list is never sent.
    queue->advance(10s);
    EXPECT_EQ(hosts.size(), 1u);
}

TEST_F(HostBrowserTest, FindingNothingIsToldOnceAfterTheDelay) {
    watch(*browser);
    browser->start();
    queue->advance(1999ms);
    EXPECT_TRUE(hosts.empty());
    queue->advance(1ms);
    EXPECT_EQ(hosts, std::vector<Hosts>{Hosts{}});
    queue->advance(10s);
    EXPECT_EQ(hosts.size(), 1u);

    // Hosts that appear and leave later are reported, down to the empty list.
    network->addRemote({"Studio", velmType, 40101, {}}, TxtRecord{{"id", "S"}});
    queue->runUntilIdle();
    network->removeRemote("Studio");
    queue->runUntilIdle();
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[1].size(), 1u);
    EXPECT_TRUE(hosts[2].empty());
}

TEST_F(HostBrowserTest, DaemonThatLeavesMakesTheBrowserOfflineUntilItReturns) {
    network->addRemote({"Office", velmType, 40100, {}}, TxtRecord{{"id", "HOST-1"}});
    watch(*browser);
    browser->start();
    queue->runUntilIdle();
    network->setReachable(false);
    queue->runUntilIdle();
    network->setReachable(true);
    queue->runUntilIdle();

    EXPECT_EQ(states, (std::vector<SessionState>{SessionState::discovering(), SessionState::offline(),
                                                 SessionState::discovering()}));
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_TRUE(hosts[1].empty());
    ASSERT_EQ(hosts[2].size(), 1u);
    EXPECT_EQ(hosts[2][0].id, "HOST-1");
}

TEST_F(HostBrowserTest, StopSilencesEverythingOfTheStoppedBrowsing) {
    watch(*browser);
    browser->start();
    queue->runUntilIdle();
    browser->stop();
    network->addRemote({"Office", velmType, 40100, {}}, TxtRecord{{"id", "HOST-1"}});
    queue->advance(10s);
    EXPECT_TRUE(hosts.empty());
    EXPECT_EQ(states.size(), 1u);
}

TEST_F(HostBrowserTest, RestartVoidsTheEmptyListTimerOfTheEarlierStart) {
    watch(*browser);
    browser->start();
    queue->advance(1500ms);
    browser->start();
    queue->advance(1500ms);
    EXPECT_TRUE(hosts.empty());
    queue->advance(500ms);
    EXPECT_EQ(hosts.size(), 1u);
}

TEST_F(HostBrowserTest, DroppedBrowserReportsNothing) {
    watch(*browser);
    browser->start();
    queue->runUntilIdle();
    browser.reset();
    network->addRemote({"Office", velmType, 40100, {}}, TxtRecord{{"id", "HOST-1"}});
    queue->advance(10s);
    EXPECT_TRUE(hosts.empty());
}

class ScriptedHostBrowserTest : public HostBrowserTest {
protected:
    void deliver(const ServiceBrowser::State& state) {
        queue->post([handler = scripted->onState, state] { handler(state); });
        queue->runUntilIdle();
    }

    std::shared_ptr<ScriptedDiscovery> scripted = std::make_shared<ScriptedDiscovery>();
    std::shared_ptr<HostBrowser> driven = HostBrowser::make(queue, scripted, {2s, 1s});
};

TEST_F(ScriptedHostBrowserTest, FailedBrowsingIsDroppedAndStartedAgainAfterThePause) {
    watch(*driven);
    driven->start();
    queue->runUntilIdle();
    deliver(ServiceBrowser::State::failed("Bad state"));
    EXPECT_EQ(states, std::vector<SessionState>{SessionState::offline()});
    EXPECT_EQ(scripted->destroyed, 1);
    EXPECT_TRUE(log.contains("discovery: browser state: failed (Bad state)"));

    queue->advance(999ms);
    EXPECT_EQ(scripted->types.size(), 1u);
    queue->advance(1ms);
    EXPECT_EQ(scripted->types, (std::vector<std::string>{velmType, velmType}));

    // A stop before the pause is over voids the restart.
    deliver(ServiceBrowser::State::failed("Bad state"));
    driven->stop();
    queue->advance(5s);
    EXPECT_EQ(scripted->types.size(), 2u);
    EXPECT_TRUE(hosts.empty());
}

TEST_F(ScriptedHostBrowserTest, WaitingIsOfflineWithoutARestart) {
    watch(*driven);
    driven->start();
    queue->runUntilIdle();
    deliver(ServiceBrowser::State::waiting("Daemon not running"));
    queue->advance(5s);
    EXPECT_EQ(states, std::vector<SessionState>{SessionState::offline()});
    EXPECT_EQ(scripted->types.size(), 1u);
    EXPECT_EQ(scripted->destroyed, 0);
}

TEST_F(ScriptedHostBrowserTest, ReportsOfAReplacedBrowserAreDropped) {
    watch(*driven);
    driven->start();
    queue->runUntilIdle();
    auto oldResults = scripted->onResults;
    auto oldState = scripted->onState;
    driven->start();
    queue->runUntilIdle();
    oldResults({resultNamed("Old", TxtRecord{{"id", "OLD"}})});
    oldState(ServiceBrowser::State::failed("late"));
    queue->advance(1s);
    EXPECT_TRUE(hosts.empty());
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(scripted->types.size(), 2u);
}

TEST(HostBrowserHosts, TxtEntriesGiveIdentifierAndModel) {
    const auto hosts = HostBrowser::hostsFrom({
        resultNamed("A no txt", std::nullopt),
        resultNamed("B no id", TxtRecord{{"model", "Mac14,2"}}),
        resultNamed("C name only", TxtRecord{{"id", "C"}, {"modelname", "MacBook Air"}}),
        resultNamed("D both", TxtRecord{{"ID", "D"}, {"Model", "Mac14,2"}, {"modelname", "MacBook Air"}}),
    });
    ASSERT_EQ(hosts.size(), 4u);
    EXPECT_EQ(hosts[0].id, "A no txt");
    EXPECT_EQ(hosts[0].model, std::nullopt);
    EXPECT_EQ(hosts[1].id, "B no id");
    EXPECT_EQ(hosts[1].model, (DeviceModel{"Mac14,2", std::nullopt}));
    EXPECT_EQ(hosts[2].model, std::nullopt);
    EXPECT_EQ(hosts[3].id, "D");
    EXPECT_EQ(hosts[3].model, (DeviceModel{"Mac14,2", "MacBook Air"}));
    EXPECT_EQ(hosts[3].endpoint.name, "D both");
}

TEST(HostBrowserHosts, OneHostPerIdentifierSortedByName) {
    const auto hosts = HostBrowser::hostsFrom({
        resultNamed("studio", TxtRecord{{"id", "S"}}),
        resultNamed("Office", TxtRecord{{"id", "O"}}),
        resultNamed("Office (IPv6 twin)", TxtRecord{{"id", "O"}}),
        resultNamed("E\xcc\x81"
                    "cole",
                    TxtRecord{{"id", "E"}}), // É decomposed
        resultNamed("Zebra", TxtRecord{{"id", "Z"}}),
        resultNamed("F", TxtRecord{{"id", "F"}}),
    });
    std::vector<std::string> names;
    for (const auto& host : hosts) {
        names.push_back(host.name);
    }
    // Case-sensitive scalar order: upper case first; É (U+00C9) after every ASCII letter.
    EXPECT_EQ(names, (std::vector<std::string>{"F", "Office", "Zebra", "studio",
                                               "E\xcc\x81"
                                               "cole"}));
}

} // namespace
} // namespace velm
