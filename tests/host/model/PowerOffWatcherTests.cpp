#include "platform/dbus/PowerOffWatcher.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/Pump.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

// Against a stand-in for logind on a bus of the test's own.
TEST(PowerOffWatcherTest, HoldsTheShutdownUntilReleasedAndHearsOnlyLogind) {
    const auto bus = test::PrivateSessionBus::start();
    if (!bus) {
        GTEST_SKIP() << "dbus-daemon cannot be started here";
    }
    const auto logind = test::ChildProcess::start(
        {"/usr/bin/python3", VELM_TEST_SUPPORT_DIR "/fake_logind.py", bus->address()}, {},
        test::ChildProcess::Output::piped);
    ASSERT_TRUE(logind);
    ASSERT_EQ(logind->readLine(), "ready");

    const auto queue = std::make_shared<ManualQueue>();
    const auto watcher = PowerOffWatcher::make(BusConnection::open(bus->address()), queue, "Velm Host");
    int powerOffs = 0;
    const auto lockIs = [&](const char* state) {
        return Blocking::waitUntil([&] {
            logind->writeLine("lock?");
            return logind->readLine() == state;
        });
    };
    watcher->setOnPowerOff([&] { ++powerOffs; });
    watcher->start();
    EXPECT_EQ(logind->readLine(),
              R"({"method": "Inhibit", "what": "shutdown", "who": "Velm Host", "mode": "delay"})");
    ASSERT_TRUE(lockIs("held"));

    logind->writeLine("shutdown");
    EXPECT_EQ(logind->readLine(), "done");
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return powerOffs == 1; }));
    watcher->release();
    EXPECT_TRUE(lockIs("released"));

    // A shutdown called off takes the lock again. Signals arrive in order, so by then the stranger's
    // signal before it was passed over.
    logind->writeLine("spoof");
    EXPECT_EQ(logind->readLine(), "done");
    logind->writeLine("resume");
    EXPECT_EQ(logind->readLine(), "done");
    EXPECT_EQ(logind->readLine(),
              R"({"method": "Inhibit", "what": "shutdown", "who": "Velm Host", "mode": "delay"})");
    queue->runUntilIdle();
    EXPECT_EQ(powerOffs, 1);
}

} // namespace
} // namespace velm
