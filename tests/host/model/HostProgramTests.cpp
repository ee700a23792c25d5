#include "platform/discovery/AvahiDiscovery.h"
#include "platform/store/DefaultsStore.h"
#include "protocol/ConnectionLog.h"
#include "tests/host/model/HostProgram.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLog.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/ProgramEnvironment.h"
#include "transport/client/discovery/HostBrowser.h"
#include "transport/client/requests/FileTransferClient.h"
#include "transport/client/requests/PairingClient.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Ending = ConnectionRecord::Ending;

using test::isMessage;

// On folders of its own and the sandbox's mDNS daemon, without a display.
class HostProgram : public test::HostProgram {
public:
    explicit HostProgram(std::vector<std::string> arguments = {"--pair"},
                         std::vector<std::string> changes = {})
        : test::HostProgram(VELM_HOST_PROGRAM, std::move(arguments), std::move(changes)) {}
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

// Without an mDNS daemon nobody finds the host, but a device that knows where it is still connects:
// pairs after a wrong code, is refused with a wrong proof, and sends a file into a download folder that
// was not there. Each is told on its output; no session bus is no error where no desktop runs.
TEST(HostProgramTest, TellsOnItsOutputWhatHappens) {
    const auto bus = test::PrivateSessionBus::start();
    if (!bus) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    HostProgram host({"--pair"}, {"DBUS_SYSTEM_BUS_ADDRESS=" + bus->address()});
    ASSERT_TRUE(host.child && host.awaitPairing());
    const auto port = std::to_string(host.port);
    EXPECT_TRUE(
        host.awaitLine("not found on the network: the Avahi daemon is not running; a device can still "
                       "connect by this computer's address and port " +
                       port));

    EXPECT_FALSE(host.pair(host.code == "000000" ? "111111" : "000000"));
    EXPECT_TRUE(host.awaitLine("wrong pairing code, 4 tries left"));
    const auto key = host.pair(host.code);
    ASSERT_TRUE(key);
    EXPECT_TRUE(host.awaitLine("paired: Test iPad"));

    // The listener starts again without the code's key: a connection may meet the moment between.
    bool refused = false;
    for (int attempt = 0; attempt < 10 && !refused; ++attempt) {
        test::TestClient client(Endpoint::hostPort("127.0.0.1", host.port),
                                *PreSharedKey::forDevice("test-ipad", *key));
        if (Blocking::waitUntil([&] { return client.hasSeen<ControlChannel::Event::Ready>(); })) {
            auto hello = client.hello("test-ipad", *key);
            hello.proof = Bytes(32, 7);
            client.send(ControlMessage::hello(hello));
            refused = Blocking::waitUntil([&] { return client.bye().has_value(); });
        }
    }
    ASSERT_TRUE(refused);
    // Named as it was paired: a hello whose proof failed does not speak for the device.
    EXPECT_TRUE(host.awaitLine("session refused: Test iPad (proof did not match)"));

    test::TemporaryFolder device;
    test::TemporaryFolder::writeFile(device / "notes.txt", "hello");
    test::EventLog<std::variant<std::string, FileTransferError>> uploads;
    const auto uploader =
        FileTransferClient::make(Endpoint::hostPort("127.0.0.1", host.port), "test-ipad", "Test iPad", *key);
    uploader->upload(device / "notes.txt", "notes.txt", 5, {}, [&](auto result) { uploads.push(result); });
    ASSERT_TRUE(uploads.waitForCount(1));
    const auto downloads = host.folder / "Downloads";
    EXPECT_TRUE(host.awaitLine("file received: notes.txt (5 bytes) in " + downloads.string()));
    struct stat info {};
    ASSERT_EQ(stat(downloads.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    EXPECT_EQ(host.child->terminate(5s), 0);
    if (test::HostProgram::logsToStandardError()) {
        host.awaitLine("not listening");
        EXPECT_EQ(host.said("velm warning [host] not found on the network: ").size(), 1u);
        EXPECT_EQ(host.said("velm info [dbus] no session bus").size(), 1u);
        EXPECT_TRUE(host.said("velm error").empty()) << host.said("velm error").front();
        EXPECT_EQ(host.said("velm info [host] listening on port").size(), 1u);
    }
}

// An mDNS daemon that leaves, with its bus, and returns: said both times.
TEST(HostProgramTest, SaysWhenDevicesCannotFindItAndWhenTheyCanAgain) {
    if (std::getenv("VELM_TEST_AVAHI") == nullptr) {
        GTEST_SKIP() << "no sandboxed avahi-daemon; scripts/test.sh starts one when run as root";
    }
    test::TemporaryFolder own;
    const auto sandbox = std::string(VELM_TEST_DATA_DIR) + "/../../scripts/avahi-sandbox.sh ";
    const auto state = (own / "avahi").string();
    ASSERT_EQ(std::system((sandbox + "start " + state + " >/dev/null").c_str()), 0);
    HostProgram host({}, {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + state + "/system_bus_socket"});
    EXPECT_TRUE(host.child && host.awaitListening());
    EXPECT_TRUE(host.awaitLine("velm info [discovery] Bonjour registered: ") ||
                !test::HostProgram::logsToStandardError());

    EXPECT_EQ(std::system((sandbox + "stop " + state).c_str()), 0);
    const auto lost = host.awaitLine("not found on the network: ");
    EXPECT_TRUE(lost && lost->ends_with("a device can still connect by this computer's address and port " +
                                        std::to_string(host.port)));
    ASSERT_EQ(std::system((sandbox + "start " + state + " >/dev/null").c_str()), 0);
    EXPECT_TRUE(host.awaitLine("now found on the network as \""));
    EXPECT_EQ(host.child->terminate(5s), 0);
    host.awaitLine("not listening");
    if (test::HostProgram::logsToStandardError()) {
        EXPECT_EQ(host.said("velm warning [host] now found on the network as \"").size(), 1u);
    }
    std::system((sandbox + "stop " + state).c_str());
}

// The settings file cut short keeps the host's identity, port and history; a folder that cannot hold
// settings is said once, with what is wrong with it.
TEST(HostProgramTest, StartsFromTheLastGoodSettingsWhenTheFileIsDamaged) {
    HostProgram host(std::vector<std::string>{});
    ASSERT_TRUE(host.child && host.awaitListening());
    const auto port = host.port;
    EXPECT_EQ(host.child->terminate(5s), 0);
    const auto hostID = host.settings().stringValue("hostID");
    ASSERT_TRUE(hostID);
    const auto file = host.folder / "config" / "velm-host" / "defaults.json";
    std::filesystem::resize_file(file, std::filesystem::file_size(file) / 2);

    host.start({});
    const auto told = host.awaitLine("settings file is damaged: kept as defaults.json.corrupt-");
    EXPECT_TRUE(told && told->ends_with(", started from its last good copy")) << told.value_or("");
    ASSERT_TRUE(host.awaitListening());
    EXPECT_EQ(host.port, port);
    EXPECT_EQ(host.child->terminate(5s), 0);
    EXPECT_EQ(host.settings().stringValue("hostID"), hostID);

    std::filesystem::remove_all(host.folder / "config" / "velm-host");
    test::TemporaryFolder::writeFile(host.folder / "config" / "velm-host", "");
    host.lines.clear();
    host.start({});
    EXPECT_TRUE(
        host.awaitLine("settings cannot be saved: " + (host.folder / "config" / "velm-host").string() +
                       " is not a folder; they are kept in memory for this run only"));
    ASSERT_TRUE(host.awaitListening());
    EXPECT_EQ(host.child->terminate(5s), 0);
    host.awaitLine("not listening");
    if (test::HostProgram::logsToStandardError()) {
        EXPECT_EQ(host.said("velm error [store]").size(), 1u);
    }
}

// Pairs over loopback with the code it printed and opens a session of the new device.
std::unique_ptr<test::TestClient> pairedSession(HostProgram& host) {
    const auto key = host.pair(host.code);
    return key ? host.openSession("test-ipad", *key) : nullptr;
}

// The terminal it was started from closes: it quits as it does on SIGTERM, telling the device.
TEST(HostProgramTest, QuitsInOrderWhenItsTerminalCloses) {
    HostProgram host;
    ASSERT_TRUE(host.child && host.awaitPairing());
    const auto session = pairedSession(host);
    ASSERT_TRUE(session);

    EXPECT_EQ(host.child->endWith(SIGHUP, 5s), 0);
    EXPECT_TRUE(Blocking::waitUntil([&] { return session->bye().has_value(); }));
    EXPECT_EQ(session->bye(), ByeReason::hostQuit);
    const auto records = host.history().records;
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().ending, Ending::hostQuit);
}

// What reads its output goes away (a pipe into a pager, a log reader that stopped): it runs on.
TEST(HostProgramTest, RunsOnWhenNobodyReadsItsOutput) {
    HostProgram host;
    ASSERT_TRUE(host.child && host.awaitPairing());
    host.child->stopReading();

    const auto session = pairedSession(host);
    ASSERT_TRUE(session);
    session->send(ControlMessage::ping(1, 42));
    EXPECT_TRUE(Blocking::waitUntil([&] { return session->hasReceived(isMessage<ControlMessage::Pong>); }));
    EXPECT_EQ(host.child->terminate(5s), 0);
    const auto records = host.history().records;
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().ending, Ending::hostQuit);
}

// A display named but gone (a stale DISPLAY in a remote shell, an X server that ended): said, and it
// runs as without one.
TEST(HostProgramTest, RunsWithoutDesktopServicesWhenItsDisplayIsGone) {
    HostProgram host(std::vector<std::string>{}, {"DISPLAY=:4711", "QT_QPA_PLATFORM="});
    ASSERT_TRUE(host.child);
    EXPECT_TRUE(host.awaitLine("the display :4711 cannot be reached: running without desktop services"));
    EXPECT_TRUE(host.awaitListening());
    EXPECT_EQ(host.child->terminate(5s), 0);
}

// Started again with another runtime folder (a `su` shell or a cron job sets no XDG_RUNTIME_DIR): the
// second finds the first by the settings they would share, and leaves them as they are.
TEST(HostProgramTest, ASecondHostOnTheSameSettingsDoesNotStart) {
    HostProgram first(std::vector<std::string>{});
    ASSERT_TRUE(first.child && first.awaitListening());
    test::TemporaryFolder other;
    ASSERT_EQ(mkdir((other / "run").c_str(), 0700), 0);

    HostProgram second(std::vector<std::string>{}, {"HOME=" + first.folder.path().string(),
                                                    "XDG_CONFIG_HOME=" + (first.folder / "config").string(),
                                                    "XDG_DATA_HOME=" + (first.folder / "data").string(),
                                                    "XDG_RUNTIME_DIR=" + (other / "run").string()});
    ASSERT_TRUE(second.child);
    EXPECT_TRUE(second.awaitLine("velm-host: another Velm Host is already running for this user"));
    EXPECT_EQ(second.child->waitForExit(20s), 1);
    EXPECT_TRUE(second.said("listening").empty());
    EXPECT_TRUE(first.child->isRunning());
    EXPECT_EQ(first.child->terminate(5s), 0);
}

TEST(HostProgramTest, ShortHelpOptionPrintsTheUsage) {
    HostProgram host({"-h"});
    ASSERT_TRUE(host.child);
    EXPECT_TRUE(host.awaitLine("usage: velm-host"));
    EXPECT_TRUE(host.awaitLine("  -h, --help"));
}

} // namespace
} // namespace velm
