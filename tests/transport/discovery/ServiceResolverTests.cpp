#include "platform/dispatch/ManualQueue.h"
#include "tests/support/FakeDiscovery.h"
#include "transport/discovery/ServiceResolver.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;
using test::FakeDiscovery;

const ServiceInstance office{"Office", "_velm._tcp", "local", FakeDiscovery::interfaceIndex,
                             ServiceInstance::Family::ipv4};

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
