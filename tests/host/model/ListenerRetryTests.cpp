#include "tests/host/model/ModelHarness.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SystemCallFaults.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <string_view>

namespace velm {
namespace {

using namespace std::chrono_literals;
using Kind = HostListener::State::Kind;
using Fault = test::SystemCallFaults::Fault;

// The model's listener fails as in a process out of descriptors: while the fault is armed, no
// listening socket can be made.
class ListenerRetryTest : public ::testing::Test {
protected:
    static Fault noSockets() { return test::SystemCallFaults::failStreamSockets(EMFILE); }

    long logged(std::string_view start) {
        return std::ranges::count_if(log.lines(),
                                     [&](const std::string& line) { return line.starts_with(start); });
    }
    long failures() { return logged("host: listener failed"); }
    long retries() { return logged("host: starting the failed listener again"); }

    bool pumpUntilFailures(long count) {
        return host.pumpUntil([&] { return failures() == count; });
    }
    bool pumpUntilListener(Kind kind) {
        return host.pumpUntil([&] { return host.model->state().listenerState.kind() == kind; });
    }

    // Switches remote access off and on again, with a listener that fails.
    void restartFailing() {
        host.model->setAllowRemoteAccess(false);
        ASSERT_TRUE(pumpUntilListener(Kind::stopped));
        const Fault fault = noSockets();
        const long before = failures();
        host.model->setAllowRemoteAccess(true);
        ASSERT_TRUE(pumpUntilFailures(before + 1));
    }

    // Runs virtual time to just before `delay` ends, when no retry may have come, then to its end, when
    // exactly one must; then waits for that retry to fail or advertise.
    void expectRetryAfter(std::chrono::seconds delay, Kind outcome) {
        const long before = retries();
        const long failed = failures();
        host.queue->advance(delay - 1ms);
        EXPECT_EQ(retries(), before) << "retried before " << delay.count() << " s";
        host.queue->advance(1ms);
        ASSERT_EQ(retries(), before + 1) << "no retry after " << delay.count() << " s";
        ASSERT_TRUE(outcome == Kind::failed ? pumpUntilFailures(failed + 1) : pumpUntilListener(outcome));
    }

    // Runs virtual time far past any retry.
    void waitLongest() { host.queue->advance(HostModel::listenerRetryDelayLimit * 2); }

    LogCapture log;
    test::ModelHarness host;
};

// Switched off and on, the listener starts afresh: its next failure waits the shortest pause again.
TEST_F(ListenerRetryTest, AFailedListenerIsTriedAgainLessOftenUpToALimitAndSoonAgainOnceStartedAfresh) {
    {
        const Fault fault = noSockets();
        host.model->start();
        ASSERT_TRUE(pumpUntilFailures(1));
        for (const auto delay : {2s, 4s, 8s, 16s, 32s, 60s, 60s}) {
            expectRetryAfter(delay, Kind::failed);
        }
    }
    restartFailing();
    expectRetryAfter(HostModel::listenerRetryDelay, Kind::advertising);
    EXPECT_TRUE(host.pumpUntil([&] { return host.discovery->published().size() == 1; }));
}

TEST_F(ListenerRetryTest, AWaitingRetryIsCalledOffByRemoteAccessOffANewerStartAndQuit) {
    host.start();
    restartFailing();
    host.model->setAllowRemoteAccess(false);
    waitLongest();
    EXPECT_EQ(retries(), 0);

    // The key of a newly paired device starts the listener at once, and nothing starts it after.
    restartFailing();
    host.pairDevice("ipad");
    ASSERT_TRUE(pumpUntilListener(Kind::advertising));
    waitLongest();
    EXPECT_EQ(retries(), 0);
    EXPECT_EQ(host.model->state().listenerState.kind(), Kind::advertising);

    restartFailing();
    host.model->quit([] {});
    waitLongest();
    EXPECT_EQ(retries(), 0);
}

} // namespace
} // namespace velm
