#include "platform/discovery/AvahiDiscovery.h"
#include "platform/store/DefaultsStore.h"
#include "protocol/ConnectionLog.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLog.h"
#include "tests/support/ProgramEnvironment.h"
#include "transport/discovery/HostBrowser.h"
#include "transport/requests/PairingClient.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Ending = ConnectionRecord::Ending;

using test::isMessage;

// velm-host as a person runs it, on folders of its own and the sandbox's mDNS daemon, without a display.
class HostProgram {
public:
    HostProgram() {
        auto environment = test::programEnvironment(
            folder, {"DBUS_SYSTEM_BUS_ADDRESS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"});
        environment.push_back("QT_QPA_PLATFORM=offscreen");
        child = test::ChildProcess::start({VELM_HOST_PROGRAM, "--pair"}, environment,
                                          test::ChildProcess::Output::piped,
                                          test::ChildProcess::Environment::only);
    }

    // Reads what it prints until it listens and has shown the pairing code.
    bool awaitPairing() {
        while (!port || code.empty()) {
            const auto line = child->readLine(20s);
            if (!line) {
                return false;
            }
            if (line->starts_with("listening on port ")) {
                port = static_cast<std::uint16_t>(std::stoi(line->substr(18)));
            } else if (line->starts_with("pairing code ")) {
                code = line->substr(13, 3) + line->substr(17, 3);
            }
        }
        return true;
    }

    DefaultsStore settings() const { return DefaultsStore(folder / "config" / "velm-host"); }

    ConnectionLog history() const {
        const auto stored = settings().jsonValue("connectionHistory");
        const auto text = stored ? stored->dump() : std::string("{}");
        return ConnectionLog::fromStoredForm(Bytes(text.begin(), text.end()));
    }

    // A session of the device that got the host's hello; the listener starts again when its keys
    // change (as after the pairing), so a connection that meets the moment between is made again.
    std::unique_ptr<test::TestClient> openSession(const std::string& deviceID, const SecretBytes& key) const {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (auto client = test::helloedClient(Endpoint::hostPort("127.0.0.1", port), deviceID, key,
                                                  [](const auto& c) { return Blocking::waitUntil(c); })) {
                return client;
            }
            std::this_thread::sleep_for(100ms);
        }
        return nullptr;
    }

    test::TemporaryFolder folder;
    std::unique_ptr<test::ChildProcess> child;
    std::uint16_t port = 0;
    std::string code;
};

TEST(HostProgramTest, IsFoundPairedUsedAndQuitsInOrder) {
    if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
        GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
    }
    HostProgram host;
    ASSERT_TRUE(host.child && host.awaitPairing());
    const auto hostID = host.settings().stringValue("hostID");
    ASSERT_TRUE(hostID);

    // The client finds the host by its identifier and pairs with the code it printed.
    std::shared_ptr<Discovery> discovery = std::make_shared<AvahiDiscovery>();
    const auto clientQueue = Queue::make("test.client");
    auto browser = HostBrowser::make(clientQueue, discovery);
    test::EventLog<DiscoveredHost> found;
    browser->setOnHosts([&](const std::vector<DiscoveredHost>& hosts) {
        for (const auto& each : hosts) {
            if (each.id == *hostID) {
                found.push(each);
            }
        }
    });
    browser->start();
    ASSERT_TRUE(found.waitForCount(1));
    browser->stop();
    ControlChannel::Options options;
    options.resolverFactory = [discovery](std::shared_ptr<Queue> queue) {
        return discovery->makeResolver(std::move(queue));
    };
    test::EventLog<PairingOutcome> outcomes;
    PairingClient::make(Endpoint::service(found.values()[0].endpoint), host.code, options)
        ->start("test-ipad", "Test iPad", clientQueue,
                [&](PairingOutcome outcome) { outcomes.push(outcome); });
    ASSERT_TRUE(outcomes.waitForCount(1));
    const auto outcome = outcomes.values()[0];
    const auto* paired = outcome.get<PairingOutcome::Paired>();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->hostID, *hostID);
    const SecretBytes key = paired->deviceKey;

    // A session answers a ping, is replaced by the device's next one, which then says goodbye.
    auto first = host.openSession("test-ipad", key);
    ASSERT_TRUE(first);
    first->send(ControlMessage::ping(1, 42));
    EXPECT_TRUE(Blocking::waitUntil([&] { return first->hasReceived(isMessage<ControlMessage::Pong>); }));
    auto second = host.openSession("test-ipad", key);
    ASSERT_TRUE(second);
    EXPECT_TRUE(Blocking::waitUntil([&] { return first->bye().has_value(); }));
    EXPECT_EQ(first->bye(), ByeReason::replacedByNewSession);
    second->send(ControlMessage::bye(ByeReason::userDisconnected));
    ASSERT_TRUE(Blocking::waitUntil([&] {
        const auto records = host.history().records;
        return records.size() == 2 && records[0].ending == Ending::disconnected;
    }));
    EXPECT_EQ(host.history().records[1].ending, Ending::replaced);

    // SIGTERM: the open session hears hostQuit, the host ends with status 0 and its record says so.
    auto third = host.openSession("test-ipad", key);
    ASSERT_TRUE(third);
    EXPECT_EQ(host.child->terminate(5s), 0);
    EXPECT_TRUE(Blocking::waitUntil([&] { return third->bye().has_value(); }));
    EXPECT_EQ(third->bye(), ByeReason::hostQuit);
    const auto last = host.history().records.front();
    EXPECT_EQ(std::pair(last.ending, last.deviceName),
              std::pair(std::optional(Ending::hostQuit), std::string("test-ipad")));
}

} // namespace
} // namespace velm
