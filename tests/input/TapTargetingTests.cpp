#include "input/TapTargeting.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <vector>

namespace velm {
namespace {

using TapTargeting::Kind;

TEST(TapTargeting, ClassifiesRoles) {
    // Neighbours of each other in name but not in kind.
    for (const char* role : {"AXButton", "AXMenuBarItem", "AXTab", "AXSegment"}) {
        EXPECT_EQ(TapTargeting::kind(role), Kind::control) << role;
    }
    for (const char* role : {"AXMenuBar", "AXTabGroup", "AXScrollBar", "AXMatte"}) {
        EXPECT_EQ(TapTargeting::kind(role), Kind::deadSpace) << role;
    }
    EXPECT_EQ(TapTargeting::kind(std::nullopt), Kind::deadSpace);
    EXPECT_EQ(TapTargeting::kind("AXStaticText"), Kind::content);
    EXPECT_EQ(TapTargeting::kind("axbutton"), Kind::content);
    EXPECT_EQ(TapTargeting::kind(""), Kind::content);
}

TEST(TapTargeting, ReachFollowsRadiusAndKind) {
    struct Case {
        double radius, deadSpace, content;
    };
    for (Case c : {Case{5, 8, 6}, Case{100, 40, 40.0 / 3}, Case{30, 30, 10}, Case{0, 8, 6}, Case{-3, 8, 6}}) {
        EXPECT_DOUBLE_EQ(*TapTargeting::reach(Kind::deadSpace, c.radius), c.deadSpace) << c.radius;
        EXPECT_DOUBLE_EQ(*TapTargeting::reach(Kind::content, c.radius), c.content) << c.radius;
        EXPECT_EQ(TapTargeting::reach(Kind::control, c.radius), std::nullopt);
    }
    EXPECT_EQ(TapTargeting::reach(Kind::deadSpace, std::numeric_limits<double>::infinity()), 40);
    EXPECT_EQ(TapTargeting::reach(Kind::deadSpace, std::numeric_limits<double>::quiet_NaN()), std::nullopt);
}

void expectRing(const std::vector<Point>& points, std::size_t first, Point centre, double radius,
                double turn) {
    for (std::size_t i = 0; i < 8; ++i) {
        double angle = (static_cast<double>(i) + turn) * std::numbers::pi / 4;
        EXPECT_NEAR(points[first + i].x, centre.x + radius * std::cos(angle), 1e-9) << first + i;
        EXPECT_NEAR(points[first + i].y, centre.y + radius * std::sin(angle), 1e-9) << first + i;
    }
}

TEST(TapTargeting, ProbeRingsGrowWithReach) {
    Point c{100, 200};
    auto two = TapTargeting::probePoints(c, 12);
    ASSERT_EQ(two.size(), 16u);
    expectRing(two, 0, c, 6, 0);
    expectRing(two, 8, c, 12, 0.5);

    auto three = TapTargeting::probePoints(c, 12.5);
    ASSERT_EQ(three.size(), 24u);
    expectRing(three, 0, c, 12.5 / 3, 0);
    expectRing(three, 8, c, 25.0 / 3, 0.5);
    expectRing(three, 16, c, 12.5, 0);

    EXPECT_TRUE(TapTargeting::probePoints({std::nan(""), 0}, 12).empty());
    EXPECT_TRUE(TapTargeting::probePoints(c, std::numeric_limits<double>::infinity()).empty());
}

TEST(TapTargeting, PicksTheNearestFittingTarget) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const auto best = [](Kind kind, std::vector<Rect> rects, Point tap, double reach = 20) {
        return TapTargeting::bestTarget(kind, rects, tap, reach);
    };
    const std::vector<Rect> small{{{100, 100}, {40, 20}}};
    const std::vector<Rect> good{{{100, 100}, {20, 20}}};
    // A miss is weighed by the target's size: 10 / 0.35 is beyond 20.
    EXPECT_EQ(best(Kind::deadSpace, small, {90, 110}), (Point{103, 110}));
    EXPECT_EQ(best(Kind::deadSpace, {{{100, 100}, {100, 20}}}, {90, 110}), std::nullopt);
    EXPECT_EQ(best(Kind::control, small, {90, 110}), std::nullopt);
    // Content only offers small controls.
    EXPECT_EQ(best(Kind::content, {{{100, 100}, {30, 30}}}, {95, 110}, 30), std::nullopt);
    EXPECT_EQ(best(Kind::content, {{{100, 100}, {20, 80}}}, {95, 110}, 30), (Point{103, 110}));
    // The nearest wins (5 points below); a tie goes to the first.
    EXPECT_EQ(
        best(Kind::deadSpace, {{{60, 40}, {20, 20}}, {{20, 40}, {20, 20}}, {{40, 55}, {20, 20}}}, {50, 50}),
        (Point{50, 58}));
    EXPECT_EQ(best(Kind::deadSpace, {{{60, 40}, {20, 20}}, {{20, 40}, {20, 20}}}, {50, 50}), (Point{63, 50}));
    // It lands inside the edge, or on a tiny control.
    EXPECT_EQ(best(Kind::deadSpace, {{{100, 100}, {1, 1}}}, {95, 98}), (Point{100, 100}));
    EXPECT_EQ(best(Kind::deadSpace, {{{100, 100}, {1, 1}}}, {105, 105}), (Point{101, 101}));
    EXPECT_EQ(best(Kind::deadSpace, {{{0, 0}, {40, 40}}}, {20, 1}), (Point{20, 3}));
    EXPECT_EQ(best(Kind::deadSpace, {{{0, 0}, {40, 40}}}, {20, 20}), (Point{20, 20}));
    // Degenerate and broken rectangles, taps and reaches are skipped.
    EXPECT_EQ(best(Kind::deadSpace,
                   {{{100, 100}, {0.5, 20}}, {{nan, 100}, {20, 20}}, {{100, 100}, {nan, 20}}}, {95, 110}),
              std::nullopt);
    EXPECT_EQ(best(Kind::deadSpace, good, {nan, 110}), std::nullopt);
    EXPECT_EQ(best(Kind::deadSpace, good, {95, 110}, nan), std::nullopt);
}

} // namespace
} // namespace velm
