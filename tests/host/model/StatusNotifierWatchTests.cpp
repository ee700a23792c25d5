#include "platform/dbus/StatusNotifierWatch.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/Pump.h"

#include <csignal>
#include <gtest/gtest.h>
#include <vector>

namespace velm {
namespace {

std::unique_ptr<test::ChildProcess> startWatcher(const test::PrivateSessionBus& bus) {
    auto watcher = test::ChildProcess::start(
        {"/usr/bin/python3", VELM_TEST_SUPPORT_DIR "/fake_status_notifier_watcher.py", bus.address()}, {},
        test::ChildProcess::Output::piped);
    return watcher && watcher->readLine() == "ready" ? std::move(watcher) : nullptr;
}

// A panel's tray on a bus of the test's own, started after the watch, leaving and coming back.
TEST(StatusNotifierWatchTest, FollowsTheWatcherAndItsHost) {
    const auto bus = test::PrivateSessionBus::start();
    if (!bus) {
        GTEST_SKIP() << "dbus-daemon cannot be started here";
    }
    const auto queue = std::make_shared<ManualQueue>();
    const auto watch = StatusNotifierWatch::make(BusConnection::open(bus->address()), queue);
    std::vector<bool> changes;
    watch->setOnChange([&] { changes.push_back(watch->isPresent()); });
    watch->start(StatusNotifierWatch::callTimeout);
    EXPECT_FALSE(watch->isPresent());
    const auto heard = [&](std::vector<bool> expected) {
        return test::pumpUntil(*queue, [&] { return changes.size() >= expected.size(); }) &&
               changes == expected;
    };

    auto watcher = startWatcher(*bus);
    ASSERT_TRUE(watcher);
    ASSERT_TRUE(heard({true}));

    // A watcher without a host draws no icons.
    watcher->writeLine("host off");
    EXPECT_EQ(watcher->readLine(), "done");
    ASSERT_TRUE(heard({true, false}));
    watcher->writeLine("host on");
    EXPECT_EQ(watcher->readLine(), "done");
    ASSERT_TRUE(heard({true, false, true}));

    watcher.reset();
    ASSERT_TRUE(heard({true, false, true, false}));

    // A watch started while the tray runs sees it at once.
    watcher = startWatcher(*bus);
    ASSERT_TRUE(watcher);
    const auto later = StatusNotifierWatch::make(BusConnection::open(bus->address()), queue);
    later->start(StatusNotifierWatch::callTimeout);
    EXPECT_TRUE(later->isPresent());
}

// With the session bus gone (here it crashed, telling nobody) the icon went with it: the tray must not
// count as there any more.
TEST(StatusNotifierWatchTest, ALostBusTakesTheTrayWithIt) {
    const auto bus = test::PrivateSessionBus::start();
    if (!bus) {
        GTEST_SKIP() << "dbus-daemon cannot be started here";
    }
    const auto watcher = startWatcher(*bus);
    ASSERT_TRUE(watcher);
    const auto queue = std::make_shared<ManualQueue>();
    const auto watch = StatusNotifierWatch::make(BusConnection::open(bus->address()), queue);
    watch->start(StatusNotifierWatch::callTimeout);
    ASSERT_TRUE(watch->isPresent());

    ASSERT_EQ(kill(bus->pid(), SIGKILL), 0);
    EXPECT_TRUE(test::pumpUntil(*queue, [&] { return !watch->isPresent(); }));
}

TEST(StatusNotifierWatchTest, WithoutABusThereIsNeverATray) {
    const auto watch = StatusNotifierWatch::make(nullptr, std::make_shared<ManualQueue>());
    watch->start(StatusNotifierWatch::callTimeout);
    EXPECT_FALSE(watch->isPresent());
}

} // namespace
} // namespace velm
