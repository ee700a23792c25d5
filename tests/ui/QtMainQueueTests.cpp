#include "Velm_Host/ui/QtMainQueue.h"
#include "tests/support/QtEvents.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velm {
namespace {

using namespace std::chrono_literals;

TEST(QtMainQueueTest, RunsWorkOnTheEventLoopInOrderAndHonoursCancel) {
    const auto queue = QtMainQueue::make();
    std::vector<std::string> ran;
    queue->postAfter(20ms, [&] { ran.push_back("later"); });
    const auto cancelled = queue->postAfter(1ms, [&] { ran.push_back("cancelled"); });
    std::thread([&] {
        queue->post([&] { ran.push_back(queue->isCurrent() ? "posted, current" : "not current"); });
    }).join();
    queue->post([&] { ran.push_back("second"); });
    cancelled.cancel();
    EXPECT_FALSE(queue->isCurrent());
    ASSERT_TRUE(test::processEventsUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"posted, current", "second", "later"}));
}

// A timer cancelled long before its time lets go of what it holds at the cancel, whichever thread
// cancels it, and the timers still armed keep theirs.
TEST(QtMainQueueTest, ACancelledTimerStopsAtTheCancel) {
    auto queue = QtMainQueue::make();
    const std::weak_ptr<QtMainQueue> alive = queue;
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> heldAlive = held;
    std::vector<std::string> ran;
    const auto fromThread = queue->postAfter(1h, [held] { ++*held; });
    const auto here = queue->postAfter(2h, [&] { ran.push_back("here"); });
    queue->postAfter(5ms, [&] { ran.push_back("kept"); });
    held.reset();
    QCoreApplication::processEvents();

    std::thread([&] { fromThread.cancel(); }).join();
    EXPECT_TRUE(heldAlive.expired()) << "the work goes at the cancel";
    here.cancel();
    ASSERT_TRUE(test::processEventsUntil([&] { return !ran.empty(); }));
    EXPECT_EQ(ran, std::vector<std::string>{"kept"});

    queue.reset();
    EXPECT_TRUE(test::processEventsUntil([&] { return alive.expired(); }))
        << "a stopped timer holds the queue no longer";
}

} // namespace
} // namespace velm
