#include "input/ClickCounter.h"

#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

constexpr std::uint8_t left = 0;
constexpr std::uint8_t right = 1;

TEST(ClickCounter, CountsARunOfFittingClicks) {
    ClickCounter clicks(0.5, 6);
    EXPECT_EQ(clicks.count(), 1);
    clicks.registerClick(left, 100, 100, 10.0);
    EXPECT_EQ(clicks.count(), 1);
    clicks.registerClick(left, 103, 104, 10.2); // 5 points away
    EXPECT_EQ(clicks.count(), 2);
    clicks.registerClick(left, 103, 104, 10.4);
    EXPECT_EQ(clicks.count(), 3);
}

TEST(ClickCounter, SlopIsExclusiveAndIntervalInclusive) {
    ClickCounter clicks(0.5, 6);
    clicks.registerClick(left, 0, 0, 1.0);
    clicks.registerClick(left, 6, 0, 1.1); // exactly the slop away: a new run
    EXPECT_EQ(clicks.count(), 1);
    clicks.registerClick(left, 6, 0, 1.6); // exactly the interval later: continues
    EXPECT_EQ(clicks.count(), 2);
    clicks.registerClick(left, 6, 0, 2.1000001);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(ClickCounter, OtherButtonOrEarlierTimeStartsANewRun) {
    ClickCounter clicks(0.5, 6);
    clicks.registerClick(left, 10, 10, 1.0);
    clicks.registerClick(right, 10, 10, 1.1);
    EXPECT_EQ(clicks.count(), 1);
    clicks.registerClick(left, 10, 10, 1.2);
    EXPECT_EQ(clicks.count(), 1) << "a right click in between resets the left run";
    clicks.registerClick(left, 10, 10, 1.1);
    EXPECT_EQ(clicks.count(), 1) << "a click before the last one never continues it";
}

TEST(ClickCounter, BrokenValuesEndTheRunWithoutPoisoningIt) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    ClickCounter clicks(0.5, 6);
    for (auto [x, y, t] : {std::tuple{nan, 0.0, 1.0}, {0.0, inf, 1.0}, {0.0, 0.0, nan}, {0.0, 0.0, -inf}}) {
        clicks.registerClick(left, 0, 0, 0.9);
        clicks.registerClick(left, x, y, t);
        EXPECT_EQ(clicks.count(), 1);
        clicks.registerClick(left, 0, 0, 1.0);
        EXPECT_EQ(clicks.count(), 1) << "a click after a broken one starts a new run";
        clicks.registerClick(left, 0, 0, 1.1);
        EXPECT_EQ(clicks.count(), 2);
    }
}

} // namespace
} // namespace velm
