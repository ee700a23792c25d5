#include "platform/discovery/AvahiDiscovery.h"
#include "tests/support/ChannelProbe.h"
#include "tests/support/EventLog.h"
#include "transport/channel/ControlChannel.h"
#include "transport/client/discovery/HostBrowser.h"
#include "transport/discovery/HostListener.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using State = HostListener::State;
using test::EventLog;

// The whole nearby road against the sandboxed daemon of scripts/avahi-sandbox.sh, never a real network:
// the host advertises, the client finds it and connects to the service, resolving it on the way.
TEST(HostListenerDiscoveryTest, AdvertisedHostIsFoundResolvedAndReached) {
    if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
        GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
    }
    const auto name = "Velm Host " + std::to_string(getpid());
    const DeviceModel model{"Mac14,2", "MacBook Air"};
    const auto key = *PreSharedKey::forDevice("DEVICE-1", Bytes(32, 7));
    std::shared_ptr<Discovery> discovery = std::make_shared<AvahiDiscovery>();
    auto clientQueue = Queue::make("test.client");

    auto listener = HostListener::make(Queue::make("test.host"), discovery, {model, 250ms, 8s});
    auto states = std::make_shared<EventLog<State>>();
    auto accepted = std::make_shared<EventLog<std::shared_ptr<ControlChannel>>>();
    listener->setOnState([states](const State& state) { states->push(state); });
    listener->setOnConnection(
        [accepted](std::shared_ptr<ControlChannel> channel) { accepted->push(channel); });
    listener->start(name, "HOST-1", {key});
    ASSERT_TRUE(states->waitForCount(2));
    ASSERT_EQ(states->values()[1].kind(), State::Kind::advertising);

    auto browser = HostBrowser::make(clientQueue, discovery);
    auto lists = std::make_shared<EventLog<std::vector<DiscoveredHost>>>();
    browser->setOnHosts([lists](const std::vector<DiscoveredHost>& hosts) { lists->push(hosts); });
    browser->start();
    std::optional<DiscoveredHost> host;
    ASSERT_TRUE(lists->waitFor([&](const auto& all) {
        for (const auto& found : all.empty() ? std::vector<DiscoveredHost>{} : all.back()) {
            host = found.name == name ? found : host;
        }
        return host.has_value();
    }));
    EXPECT_EQ(host->id, "HOST-1");
    EXPECT_EQ(host->model, model);

    // The client dials the service itself; the host takes the connection as a channel of its own.
    ControlChannel::Options options;
    options.resolverFactory = [discovery](std::shared_ptr<Queue> queue) {
        return discovery->makeResolver(std::move(queue));
    };
    test::ChannelProbe client(ControlChannel::outgoing(Endpoint::service(host->endpoint), key, options));
    client.start();
    EXPECT_TRUE(client.waitForReady());
    ASSERT_TRUE(accepted->waitForCount(1));
    test::ChannelProbe hostSide(accepted->values()[0]);
    hostSide.start();
    EXPECT_TRUE(hostSide.waitForReady());
    EXPECT_EQ(hostSide.channel().sessionBinding(), client.channel().sessionBinding());
}

} // namespace
} // namespace velm
