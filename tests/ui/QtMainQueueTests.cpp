#include "Velm_Host/ui/QtMainQueue.h"
#include "tests/support/QtEvents.h"

#include <gtest/gtest.h>
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

} // namespace
} // namespace velm
