#include "platform/dbus/DbusScreenLock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLog.h"
#include "tests/support/PrivateSessionBus.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Result = ScreenLock::Result;
using Strings = std::vector<std::string>;

// The screen lock against lockers that a small program plays on private buses (Debian's
// /usr/bin/python3 has the D-Bus bindings): logind on the one that stands for the system bus, the
// screensaver on the session bus.
class DbusScreenLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        systemBus = test::PrivateSessionBus::start();
        sessionBus = test::PrivateSessionBus::start();
        if (!systemBus || !sessionBus) {
            GTEST_SKIP() << "no dbus-daemon to run private buses";
        }
    }

    std::unique_ptr<test::ChildProcess> startLocker(const test::PrivateSessionBus& bus, const char* service,
                                                    const char* mode) {
        auto locker =
            test::ChildProcess::start({"/usr/bin/python3", VELM_TEST_SUPPORT_DIR "/fake_screen_locker.py",
                                       bus.address(), service, mode},
                                      {}, test::ChildProcess::Output::piped);
        const bool started = locker && locker->readLine() == "ready";
        EXPECT_TRUE(started) << "the fake " << service << " did not start";
        return started ? std::move(locker) : nullptr;
    }

    std::optional<Result> lock(std::shared_ptr<BusConnection> system,
                               std::shared_ptr<BusConnection> session) {
        const auto screenLock = DbusScreenLock::make(std::move(system), std::move(session), queue,
                                                     {.callTimeout = 5s, .checkInterval = 20ms, .checks = 3});
        const auto results = std::make_shared<test::EventLog<Result>>();
        screenLock->lock([results](Result result) { results->push(result); });
        return results->waitForCount(1) ? std::optional(results->values()[0]) : std::nullopt;
    }

    std::optional<Result> lockThroughBoth() {
        return lock(BusConnection::open(systemBus->address()), BusConnection::open(sessionBus->address()));
    }

    // The calls a locker received; it answered each before the lock finished.
    static Strings calls(test::ChildProcess& locker) {
        Strings received;
        while (const auto line = locker.readLine(200ms)) {
            received.push_back(*line);
        }
        return received;
    }

    std::unique_ptr<test::PrivateSessionBus> systemBus;
    std::unique_ptr<test::PrivateSessionBus> sessionBus;
    const std::shared_ptr<Queue> queue = Queue::make("velm.host.curtain");
};

TEST_F(DbusScreenLockTest, LogindLocksTheSessionAndConfirmsIt) {
    const auto logind = startLocker(*systemBus, "logind", "confirms");
    const auto screensaver = startLocker(*sessionBus, "screensaver", "confirms");
    ASSERT_TRUE(logind && screensaver);
    EXPECT_EQ(lockThroughBoth(), Result::locked);
    EXPECT_EQ(calls(*logind), (Strings{"Lock", "LockedHint"}));
    EXPECT_TRUE(calls(*screensaver).empty());
}

TEST_F(DbusScreenLockTest, TheScreensaverLocksWhenLogindNeverConfirms) {
    const auto logind = startLocker(*systemBus, "logind", "never-confirms");
    const auto screensaver = startLocker(*sessionBus, "screensaver", "confirms");
    ASSERT_TRUE(logind && screensaver);
    EXPECT_EQ(lockThroughBoth(), Result::locked);
    EXPECT_EQ(calls(*logind), (Strings{"Lock", "LockedHint", "LockedHint", "LockedHint"}));
    EXPECT_EQ(calls(*screensaver), (Strings{"Lock", "GetActive"}));
}

TEST_F(DbusScreenLockTest, ALockNobodyConfirmsIsUnconfirmedAndOneNobodyTakesFailed) {
    {
        const auto logind = startLocker(*systemBus, "logind", "refuses");
        const auto screensaver = startLocker(*sessionBus, "screensaver", "never-confirms");
        ASSERT_TRUE(logind && screensaver);
        EXPECT_EQ(lockThroughBoth(), Result::unconfirmed);
    }
    EXPECT_EQ(lockThroughBoth(), Result::failed) << "buses with no locker on them";
    EXPECT_EQ(lock(nullptr, nullptr), Result::failed) << "no bus at all";
}

} // namespace
} // namespace velm
