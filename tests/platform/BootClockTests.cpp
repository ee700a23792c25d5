#include "platform/dispatch/TimerfdBootClock.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;

std::size_t openFiles() {
    const auto files = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(files), end(files)));
}

// Whether the wait ends after a suspend cannot be seen here: no test can put the machine to sleep.
TEST(TimerfdBootClock, RunsTheWorkOnceOnItsQueueAlsoWithoutADelay) {
    TimerfdBootClock clock;
    auto queue = Queue::make("velm.test.boot");
    std::atomic<int> runs{0};
    std::atomic<bool> onItsQueue{false};
    Gate fired;
    clock.postAfter(queue, 5ms, [&] {
        onItsQueue = queue->isCurrent();
        fired.open();
    });
    clock.postAfter(queue, 0ns, [&] { ++runs; });
    clock.postAfter(queue, -1s, [&] { ++runs; });
    ASSERT_TRUE(fired.wait());
    EXPECT_TRUE(onItsQueue);
    ASSERT_TRUE(Blocking::waitUntil([&] { return runs == 2; }));
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_EQ(runs, 2);
}

TEST(TimerfdBootClock, CancellingStopsTheWorkReleasesItAndClosesTheTimer) {
    TimerfdBootClock clock;
    auto queue = Queue::make("velm.test.boot");
    // The pool opens files of its own for its first timer.
    Gate warm;
    queue->postAfter(0ms, [&] { warm.open(); });
    ASSERT_TRUE(warm.wait());
    const auto before = openFiles();
    auto token = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    const WorkItem far = clock.postAfter(queue, 1h, [token, &ran] { ran = true; });
    EXPECT_EQ(openFiles(), before + 1);
    far.cancel();
    EXPECT_EQ(token.use_count(), 1) << "the cancelled work still holds what it captured";
    EXPECT_TRUE(Blocking::waitUntil([&] { return openFiles() == before; })) << "the timer file stays open";

    // Cancelled once due while its queue is busy (most likely; the test holds either way): it does not start.
    Gate busy, release;
    queue->post([&] {
        busy.open();
        release.wait();
    });
    ASSERT_TRUE(busy.wait());
    const WorkItem due = clock.postAfter(queue, 1ns, [&] { ran = true; });
    std::this_thread::sleep_for(20ms);
    due.cancel();
    release.open();
    ASSERT_TRUE(Blocking::drain(*queue));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(Blocking::waitUntil([&] { return openFiles() == before; }));
}

} // namespace
} // namespace velm
