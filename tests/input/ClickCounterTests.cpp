#include "input/ClickCounter.h"

#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

constexpr std::uint8_t leftButton = 0;
constexpr std::uint8_t rightButton = 1;

TEST(ClickCounter, CountsARunOfClicksOfOneButtonCloseInPlaceAndTime) {
    struct Click {
        std::uint8_t button;
        double x, y, time;
        int count;
        const char* why;
    };
    const Click clicks[] = {
        {leftButton, 100, 100, 10.0, 1, "the first"},
        {leftButton, 103, 104, 10.2, 2, "5 points away"},
        {leftButton, 103, 104, 10.4, 3, "a third"},
        {leftButton, 109, 104, 10.5, 1, "exactly the slop away: a new run"},
        {leftButton, 109, 104, 11.0, 2, "exactly the interval later: continues"},
        {leftButton, 109, 104, 11.5000001, 1, "just over the interval"},
        {rightButton, 109, 104, 11.6, 1, "another button"},
        {leftButton, 109, 104, 11.7, 1, "a right click in between resets the left run"},
        {leftButton, 109, 104, 11.6, 1, "a click before the last one never continues it"},
    };
    ClickCounter counter(0.5, 6);
    EXPECT_EQ(counter.count(), 1);
    for (const Click& click : clicks) {
        counter.registerClick(click.button, click.x, click.y, click.time);
        EXPECT_EQ(counter.count(), click.count) << click.why;
    }
}

TEST(ClickCounter, BrokenValuesEndTheRunWithoutPoisoningIt) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    ClickCounter clicks(0.5, 6);
    for (auto [x, y, t] : {std::tuple{nan, 0.0, 1.0}, {0.0, inf, 1.0}, {0.0, 0.0, nan}, {0.0, 0.0, -inf}}) {
        clicks.registerClick(leftButton, 0, 0, 0.9);
        clicks.registerClick(leftButton, x, y, t);
        EXPECT_EQ(clicks.count(), 1);
        clicks.registerClick(leftButton, 0, 0, 1.0);
        EXPECT_EQ(clicks.count(), 1) << "a click after a broken one starts a new run";
        clicks.registerClick(leftButton, 0, 0, 1.1);
        EXPECT_EQ(clicks.count(), 2);
    }
}

} // namespace
} // namespace velm
