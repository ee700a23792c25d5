#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"
#include "transport/client/discovery/HostBrowser.h"
#include "transport/discovery/ServiceResolver.h"

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

class ServiceResolverTest : public ::testing::Test {
protected:
    ServiceResolver::Completion record() {
        return [this](std::optional<Endpoint> endpoint) { answers.push_back(std::move(endpoint)); };
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("resolver");
    std::shared_ptr<FakeDiscovery> network = std::make_shared<FakeDiscovery>();
    ServiceResolver resolver{queue, network->makeResolver(queue)};
    std::vector<std::optional<Endpoint>> answers;
};

TEST_F(ServiceResolverTest, ServiceResolvesToItsAddressAndHostAndPortPassesThroughOnTheQueue) {
    network->addRemote({"Office", "_velm._tcp", 40100, {}}, TxtRecord{{"id", "HOST-1"}});
    resolver.resolve(Endpoint::service(office), 4s, record());
    queue->runUntilIdle();
    const auto direct = Endpoint::hostPort("192.0.2.7", 5000);
    resolver.resolve(direct, 4s, record());
    EXPECT_EQ(answers.size(), 1u);
    queue->runUntilIdle();
    EXPECT_EQ(answers, (std::vector<std::optional<Endpoint>>{
                           Endpoint::hostPort(FakeDiscovery::address, 40100), direct}));
}

TEST_F(ServiceResolverTest, MissingServiceEndsWithNothingAtTheLimitAndNeverAgain) {
    resolver.resolve(Endpoint::service(office), 4s, record());
    queue->advance(3999ms);
    EXPECT_TRUE(answers.empty());
    queue->advance(1ms);
    network->addRemote({"Office", "_velm._tcp", 40100, {}}, TxtRecord{});
    queue->advance(10s);
    EXPECT_EQ(answers, std::vector<std::optional<Endpoint>>{std::nullopt});
}

TEST_F(ServiceResolverTest, NoDaemonNoDiscoveryOrNoPortResolveToNothing) {
    network->addRemote({"Office", "_velm._tcp", 0, {}}, TxtRecord{});
    resolver.resolve(Endpoint::service(office), 4s, record());
    queue->runUntilIdle();
    ServiceResolver blind(queue, nullptr);
    blind.resolve(Endpoint::service(office), 4s, record());
    queue->runUntilIdle();
    network->setReachable(false);
    resolver.resolve(Endpoint::service(office), 4s, record());
    queue->runUntilIdle();
    EXPECT_EQ(answers, std::vector<std::optional<Endpoint>>(3, std::nullopt));
}

TEST_F(ServiceResolverTest, CancelledReplacedOrDestroyedResolutionsNeverComplete) {
    network->addRemote({"Office", "_velm._tcp", 40100, {}}, TxtRecord{});
    resolver.resolve(Endpoint::service(office), 4s, record());
    resolver.cancel();
    resolver.resolve(Endpoint::hostPort("192.0.2.7", 5000), 4s, record());
    resolver.cancel();
    auto doomed = std::make_unique<ServiceResolver>(queue, network->makeResolver(queue));
    doomed->resolve(Endpoint::service(office), 4s, record());
    doomed.reset();
    queue->advance(10s);
    EXPECT_TRUE(answers.empty());

    std::vector<int> order;
    resolver.resolve(Endpoint::service(office), 4s, [&](std::optional<Endpoint>) { order.push_back(1); });
    resolver.resolve(Endpoint::service(office), 4s, [&](std::optional<Endpoint>) { order.push_back(2); });
    queue->advance(10s);
    EXPECT_EQ(order, std::vector<int>{2});
}

} // namespace
} // namespace velm
