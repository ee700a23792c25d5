#include "protocol/client/WakePolicy.h"

#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

using Clock = WakePolicy::Clock;

Clock::time_point at(double seconds) {
    return Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(WakePolicy::Seconds(seconds));
}

TEST(WakePolicy, OnlyLivelyActivityIsNotedAndCountsForThirtySeconds) {
    WakePolicy policy;
    EXPECT_FALSE(policy.isLively(at(0)));

    policy.noteActivity(4.99, at(10));
    policy.noteActivity(std::numeric_limits<double>::quiet_NaN(), at(10));
    EXPECT_EQ(policy.lastLively(), std::nullopt);

    policy.noteActivity(5.0, at(10));
    EXPECT_EQ(policy.lastLively(), at(10));
    policy.noteActivity(1.0, at(20));
    EXPECT_EQ(policy.lastLively(), at(10));

    policy.noteActivity(7.5, at(100));
    EXPECT_TRUE(policy.isLively(at(100)));
    EXPECT_TRUE(policy.isLively(at(129.9)));
    EXPECT_FALSE(policy.isLively(at(130)));
    // A lively moment noted later than the question still counts.
    EXPECT_TRUE(policy.isLively(at(50)));
}

} // namespace
} // namespace velm
