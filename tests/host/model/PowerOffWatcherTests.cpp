#include "platform/dbus/PowerOffWatcher.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/Pump.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

constexpr const char* inhibit =
    R"({"method": "Inhibit", "what": "shutdown", "who": "Velm Host", "mode": "delay"})";

// Against a stand-in for logind on a bus of the test's own; the test starts the watcher.
class PowerOffWatcherStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus = test::PrivateSessionBus::start();
        if (!bus) {
            GTEST_SKIP() << "dbus-daemon cannot be started here";
        }
        logind = startLogind();
        ASSERT_TRUE(logind);
        connection = BusConnection::open(bus->address());
        watcher = PowerOffWatcher::make(connection, queue, "Velm Host");
        watcher->setOnPowerOff([&] { ++powerOffs; });
    }

    // Ready once it owns logind's name.
    std::unique_ptr<test::ChildProcess> startLogind() {
        auto started = test::ChildProcess::start(
            {"/usr/bin/python3", VELM_TEST_SUPPORT_DIR "/fake_logind.py", bus->address()}, {},
            test::ChildProcess::Output::piped);
        if (!started || started->readLine() != "ready") {
            return nullptr;
        }
        return started;
    }

    bool lockIs(const char* state) {
        return Blocking::waitUntil([&] {
            logind->writeLine("lock?");
            return logind->readLine() == state;
        });
    }

    void send(const char* command) {
        logind->writeLine(command);
        EXPECT_EQ(logind->readLine(), "done");
    }

    // Waits until the watcher's connection has handled what the bus sent it so far: the answer to a
    // ping comes after it.
    void heardAll() {
        auto pong = std::make_shared<std::promise<void>>();
        auto answered = pong->get_future();
        connection->post([pong](BusConnection& served) {
            sd_bus_message* ping = nullptr;
            sd_bus_message_new_method_call(served.bus(), &ping, "org.freedesktop.DBus",
                                           "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping");
            served.call(ping, 5s,
                        [pong](sd_bus_message*, const std::optional<std::string>&) { pong->set_value(); });
            sd_bus_message_unref(ping);
        });
        ASSERT_EQ(answered.wait_for(10s), std::future_status::ready);
    }

    std::unique_ptr<test::PrivateSessionBus> bus;
    std::unique_ptr<test::ChildProcess> logind;
    const std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    std::shared_ptr<BusConnection> connection;
    std::shared_ptr<PowerOffWatcher> watcher;
    int powerOffs = 0;
};

// The same, with the watcher started and holding its lock.
class PowerOffWatcherTest : public PowerOffWatcherStartTest {
protected:
    void SetUp() override {
        PowerOffWatcherStartTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        watcher->start();
        EXPECT_EQ(logind->readLine(), inhibit);
        ASSERT_TRUE(lockIs("held"));
    }
};

TEST_F(PowerOffWatcherTest, HoldsTheShutdownUntilReleasedAndHearsOnlyLogind) {
    send("shutdown");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return powerOffs == 1; }));
    watcher->release();
    EXPECT_TRUE(lockIs("released"));

    // A shutdown called off takes the lock again. Signals arrive in order, so by then the stranger's
    // signal before it was passed over.
    send("spoof");
    send("resume");
    EXPECT_EQ(logind->readLine(), inhibit);
    queue->runUntilIdle();
    EXPECT_EQ(powerOffs, 1);
}

// Called off while the devices were still being told: the lock let go then is taken again, so the next
// shutdown waits for them too.
TEST_F(PowerOffWatcherTest, AShutdownCalledOffBeforeTheReleaseKeepsALock) {
    send("shutdown");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return powerOffs == 1; }));
    send("resume");
    heardAll();
    watcher->release();
    EXPECT_EQ(logind->readLine(), inhibit);
    EXPECT_TRUE(lockIs("held"));
}

// logind restarted (or crashed and came back): the new one is trusted and holds the next shutdown too.
TEST_F(PowerOffWatcherTest, FollowsLogindToItsNextRun) {
    logind.reset();
    logind = startLogind();
    ASSERT_TRUE(logind);
    EXPECT_EQ(logind->readLine(), inhibit);
    EXPECT_TRUE(lockIs("held"));

    send("spoof");
    send("shutdown");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return powerOffs == 1; }));
    watcher->release();
    EXPECT_TRUE(lockIs("released"));
    queue->runUntilIdle();
    EXPECT_EQ(powerOffs, 1);
}

// Cut off from the bus, the watcher can no longer hear a shutdown coming: its lock would only hold
// every shutdown back until logind's own limit, for nothing.
TEST_F(PowerOffWatcherTest, LetsTheLockGoWhenItsBusConnectionIsLost) {
    connection->post([](BusConnection& served) { shutdown(sd_bus_get_fd(served.bus()), SHUT_RDWR); });
    EXPECT_TRUE(lockIs("released"));
}

// The shutdown may be on its way while logind has yet to answer for the lock. A lock granted after the
// devices were told would hold the shutdown back for nothing; the next one is held again.
TEST_F(PowerOffWatcherStartTest, HearsAShutdownBeforeTheLockIsGranted) {
    send("hold");
    watcher->start();
    EXPECT_EQ(logind->readLine(), inhibit);
    send("shutdown");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return powerOffs == 1; }));
    watcher->release();
    heardAll();
    send("answer");
    EXPECT_TRUE(lockIs("released"));

    send("resume");
    EXPECT_EQ(logind->readLine(), inhibit);
    EXPECT_TRUE(lockIs("held"));
}

} // namespace
} // namespace velm
