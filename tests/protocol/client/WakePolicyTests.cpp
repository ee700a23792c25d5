#include "protocol/client/WakePolicy.h"

#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using Clock = WakePolicy::Clock;

Clock::time_point wakeClockAt(double seconds) {
    return Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(WakePolicy::Seconds(seconds));
}

TEST(WakePolicy, OnlyLivelyActivityIsNotedAndCountsForThirtySeconds) {
    WakePolicy policy;
    EXPECT_FALSE(policy.isLively(wakeClockAt(0)));

    policy.noteActivity(4.99, wakeClockAt(10));
    policy.noteActivity(std::numeric_limits<double>::quiet_NaN(), wakeClockAt(10));
    EXPECT_EQ(policy.lastLively(), std::nullopt);

    policy.noteActivity(5.0, wakeClockAt(10));
    EXPECT_EQ(policy.lastLively(), wakeClockAt(10));
    policy.noteActivity(1.0, wakeClockAt(20));
    EXPECT_EQ(policy.lastLively(), wakeClockAt(10));

    policy.noteActivity(7.5, wakeClockAt(100));
    EXPECT_TRUE(policy.isLively(wakeClockAt(100)));
    EXPECT_TRUE(policy.isLively(wakeClockAt(129.9)));
    EXPECT_FALSE(policy.isLively(wakeClockAt(130)));
    // A lively moment noted later than the question still counts.
    EXPECT_TRUE(policy.isLively(wakeClockAt(50)));
}

} // namespace
} // namespace velm
