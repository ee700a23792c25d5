#include "platform/discovery/AvahiDiscovery.h"
#include "tests/support/ChannelProbe.h"
#include "tests/support/EventLog.h"
#include "transport/ControlChannel.h"
#include "transport/HostBrowser.h"
#include "transport/HostListener.h"
#include "transport/ServiceResolver.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using State = HostListener::State;

const DeviceModel model{"Mac14,2", "MacBook Air"};

std::string uniqueName(const std::string& base) {
    static int counter = 0;
    return base + " " + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

// The whole nearby road against the daemon that scripts/avahi-sandbox.sh starts in a namespace of
// its own, never against one on a real network: the host advertises, the client finds it, resolves it
// and connects.
class HostListenerDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
            GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
        }
        listener->setOnState([states = states](const State& state) { states->push(state); });
        listener->setOnConnection([accepted = accepted](std::shared_ptr<ControlChannel> channel) {
            accepted->push(std::move(channel));
        });
    }

    // Starts the listener and waits for its port.
    std::uint16_t advertise(const std::string& name, const std::vector<PreSharedKey>& keys) {
        listener->start(name, "HOST-" + name, keys);
        EXPECT_TRUE(states->waitFor([](const auto& all) {
            return std::any_of(all.begin(), all.end(),
                               [](const State& s) { return s.kind() == State::Kind::advertising; });
        }));
        for (const auto& state : states->values()) {
            if (state.kind() == State::Kind::advertising) {
                return state.port();
            }
        }
        return 0;
    }

    // Waits for the browser to list `name`.
    std::optional<DiscoveredHost> find(const std::string& name) {
        auto lists = std::make_shared<test::EventLog<std::vector<DiscoveredHost>>>();
        browser->setOnHosts([lists](const std::vector<DiscoveredHost>& hosts) { lists->push(hosts); });
        browser->start();
        std::optional<DiscoveredHost> found;
        lists->waitFor([&](const auto& all) {
            for (const auto& hosts : all) {
                for (const auto& host : hosts) {
                    if (host.name == name) {
                        found = host;
                    }
                }
            }
            return found.has_value();
        });
        return found;
    }

    std::shared_ptr<Discovery> discovery = std::make_shared<AvahiDiscovery>();
    std::shared_ptr<Queue> hostQueue = Queue::make("test.host");
    std::shared_ptr<Queue> clientQueue = Queue::make("test.client");
    std::shared_ptr<HostListener> listener =
        HostListener::make(hostQueue, discovery, {model, 250ms, TlsListener::defaultHandshakeTimeout});
    std::shared_ptr<HostBrowser> browser = HostBrowser::make(clientQueue, discovery);
    std::shared_ptr<test::EventLog<State>> states = std::make_shared<test::EventLog<State>>();
    std::shared_ptr<test::EventLog<std::shared_ptr<ControlChannel>>> accepted =
        std::make_shared<test::EventLog<std::shared_ptr<ControlChannel>>>();
};

TEST_F(HostListenerDiscoveryTest, AdvertisedHostIsFoundResolvedAndReached) {
    const auto name = uniqueName("Velm Host");
    const auto keys = std::vector<PreSharedKey>{*PreSharedKey::forDevice("DEVICE-1", Bytes(32, 7))};
    const auto port = advertise(name, keys);
    ASSERT_NE(port, 0);

    const auto host = find(name);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->id, "HOST-" + name);
    EXPECT_EQ(host->model, model);

    ServiceResolver resolver(clientQueue, discovery->makeResolver(clientQueue));
    auto answers = std::make_shared<test::EventLog<std::optional<Endpoint>>>();
    resolver.resolve(Endpoint::service(host->endpoint), 4s,
                     [answers](std::optional<Endpoint> e) { answers->push(e); });
    ASSERT_TRUE(answers->waitForCount(1));
    EXPECT_EQ(answers->values()[0], Endpoint::hostPort("127.0.0.1", port));

    // The client dials the service itself; the host takes the connection as a channel of its own.
    ControlChannel::setResolverFactory([discovery = discovery](std::shared_ptr<Queue> queue) {
        return discovery->makeResolver(std::move(queue));
    });
    test::ChannelProbe client(ControlChannel::outgoing(Endpoint::service(host->endpoint), keys[0]));
    client.start();
    EXPECT_TRUE(client.waitForReady());
    ControlChannel::setResolverFactory(nullptr);
    ASSERT_TRUE(accepted->waitForCount(1));
    test::ChannelProbe hostSide(accepted->values()[0]);
    hostSide.start();
    EXPECT_TRUE(hostSide.waitForReady());
    EXPECT_EQ(hostSide.channel().pskIdentity(), "DEVICE-1");
    EXPECT_EQ(hostSide.channel().sessionBinding(), client.channel().sessionBinding());
}

TEST_F(HostListenerDiscoveryTest, StoppedHostLeavesTheList) {
    const auto name = uniqueName("Velm Leaving");
    ASSERT_NE(advertise(name, {}), 0);
    ASSERT_TRUE(find(name));

    auto lists = std::make_shared<test::EventLog<std::vector<DiscoveredHost>>>();
    browser->setOnHosts([lists](const std::vector<DiscoveredHost>& hosts) { lists->push(hosts); });
    listener->stop();
    EXPECT_TRUE(lists->waitFor([&](const auto& all) {
        return !all.empty() && std::none_of(all.back().begin(), all.back().end(),
                                            [&](const DiscoveredHost& h) { return h.name == name; });
    }));
}

} // namespace
} // namespace velm
