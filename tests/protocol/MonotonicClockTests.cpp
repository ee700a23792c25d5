#include "protocol/MonotonicClock.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(MonotonicClock, NeverGoesBackwardsAndMeasuresMillisecondsBetweenStamps) {
    std::uint64_t previous = MonotonicClock::now();
    EXPECT_GT(previous, 0u);
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t current = MonotonicClock::now();
        ASSERT_GE(current, previous);
        previous = current;
    }

    EXPECT_DOUBLE_EQ(MonotonicClock::milliseconds(1000, 3500), 2.5);
    EXPECT_EQ(MonotonicClock::milliseconds(3500, 1000), 0.0);
    EXPECT_EQ(MonotonicClock::milliseconds(7, 7), 0.0);
    EXPECT_DOUBLE_EQ(MonotonicClock::milliseconds(0, UINT64_MAX), static_cast<double>(UINT64_MAX) / 1000.0);
}

} // namespace
} // namespace velm
