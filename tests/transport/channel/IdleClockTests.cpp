#include "transport/channel/IdleClock.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace velm {
namespace {

using Action = IdleClock::Action;

TEST(IdleClockTest, WarnsOncePerStretchThenEnds) {
    IdleClock clock(300, 1000);
    EXPECT_EQ(clock.tick(1200), Action::nothing());
    EXPECT_EQ(clock.tick(1240), Action::warn(60));
    EXPECT_TRUE(clock.warned());
    EXPECT_EQ(clock.tick(1250), Action::nothing());
    EXPECT_EQ(clock.tick(1300), Action::end());
    EXPECT_EQ(clock.tick(1400), Action::end());
    // Seconds left round down.
    EXPECT_EQ(IdleClock(300, 1000).tick(1240.5), Action::warn(59));
    EXPECT_EQ(IdleClock(300, 1000).tick(1299.6), Action::warn(0));
}

TEST(IdleClockTest, ActivityStartsAFreshStretch) {
    IdleClock clock(300, 1000);
    EXPECT_EQ(clock.tick(1240), Action::warn(60));
    clock.activity(1250);
    EXPECT_FALSE(clock.warned());
    EXPECT_EQ(clock.tick(1489), Action::nothing());
    EXPECT_EQ(clock.tick(1490), Action::warn(60));
    EXPECT_EQ(clock.tick(1550), Action::end());
}

TEST(IdleClockTest, WithoutTimeoutNeverActsAndChangingItKeepsTheStretch) {
    IdleClock clock(std::nullopt, 1000);
    EXPECT_EQ(clock.tick(1200), Action::nothing());
    EXPECT_EQ(clock.tick(1e12), Action::nothing());
    clock.setTimeout(300);
    EXPECT_EQ(clock.tick(1250), Action::warn(50));
    clock.setTimeout(600);
    EXPECT_EQ(clock.tick(1560), Action::nothing()); // already warned in this stretch
    EXPECT_EQ(clock.tick(1600), Action::end());
}

TEST(IdleClockTest, ShortTimeoutWarnsAtOnceAndOddTimesStayDefined) {
    IdleClock quick(30, 1000);
    EXPECT_EQ(quick.tick(1000.5), Action::warn(29));
    EXPECT_EQ(quick.tick(1030), Action::end());

    IdleClock clock(300, 1000);
    EXPECT_EQ(clock.tick(500), Action::nothing()); // a time before the last activity
    EXPECT_EQ(clock.tick(std::nan("")), Action::nothing());
    EXPECT_EQ(clock.tick(-1e308), Action::nothing());
    EXPECT_EQ(clock.tick(1e308), Action::end());
}

// A damaged settings file can hold any number: one that is not a positive, finite count of seconds sets
// no limit, as the device's card shows it, rather than ending every session at its first tick.
TEST(IdleClockTest, ATimeoutThatIsNoPositiveFiniteNumberSetsNoLimit) {
    for (const double timeout : {0.0, -30.0, std::nan(""), std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity()}) {
        IdleClock clock(timeout, 1000);
        EXPECT_FALSE(clock.timeout()) << timeout;
        EXPECT_EQ(clock.tick(1001), Action::nothing()) << timeout;
        EXPECT_EQ(clock.tick(1e12), Action::nothing()) << timeout;
        clock.setTimeout(300);
        clock.setTimeout(timeout);
        EXPECT_FALSE(clock.timeout()) << timeout;
        EXPECT_EQ(clock.tick(1e12), Action::nothing()) << timeout;
    }
    EXPECT_EQ(IdleClock(1e300, 1000).tick(1e12), Action::nothing());
}

} // namespace
} // namespace velm
