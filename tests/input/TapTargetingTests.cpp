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
    EXPECT_NEAR(two[2].y, 206, 1e-9) << "each ring turns towards positive y";

    auto three = TapTargeting::probePoints(c, 12.5);
    ASSERT_EQ(three.size(), 24u);
    expectRing(three, 0, c, 12.5 / 3, 0);
    expectRing(three, 8, c, 25.0 / 3, 0.5);
    expectRing(three, 16, c, 12.5, 0);

    EXPECT_TRUE(TapTargeting::probePoints({std::nan(""), 0}, 12).empty());
    EXPECT_TRUE(TapTargeting::probePoints(c, std::numeric_limits<double>::infinity()).empty());
}

TEST(TapTargeting, WeighsMissesByTargetSize) {
    Point tap{90, 110};
    std::vector<Rect> small{{{100, 100}, {40, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, small, tap, 20), (Point{103, 110}));
    std::vector<Rect> wide{{{100, 100}, {100, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, wide, tap, 20), std::nullopt)
        << "10 / 0.35 is beyond 20";
    EXPECT_EQ(TapTargeting::bestTarget(Kind::control, small, tap, 20), std::nullopt);
}

TEST(TapTargeting, ContentOnlyOffersSmallControls) {
    Point tap{95, 110};
    std::vector<Rect> square{{{100, 100}, {30, 30}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::content, square, tap, 30), std::nullopt);
    std::vector<Rect> narrow{{{100, 100}, {20, 80}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::content, narrow, tap, 30), (Point{103, 110}));
}

TEST(TapTargeting, NearestWinsAndTiesGoToTheFirst) {
    Point tap{50, 50};
    std::vector<Rect> rects{{{60, 40}, {20, 20}}, {{20, 40}, {20, 20}}, {{40, 55}, {20, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, rects, tap, 20), (Point{50, 58}))
        << "5 points below wins";
    std::vector<Rect> tied{{{60, 40}, {20, 20}}, {{20, 40}, {20, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, tied, tap, 20), (Point{63, 50}));
}

TEST(TapTargeting, LandsInsideTheEdgeOrOnATinyControl) {
    std::vector<Rect> tiny{{{100, 100}, {1, 1}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, tiny, {95, 98}, 20), (Point{100, 100}));
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, tiny, {105, 105}, 20), (Point{101, 101}));
    std::vector<Rect> button{{{0, 0}, {40, 40}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, button, {20, 1}, 20), (Point{20, 3}))
        << "a tap on the border moves inside";
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, button, {20, 20}, 20), (Point{20, 20}));
}

TEST(TapTargeting, SkipsDegenerateAndBrokenRectangles) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Rect> rects{{{100, 100}, {0.5, 20}}, {{nan, 100}, {20, 20}}, {{100, 100}, {nan, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, rects, {95, 110}, 20), std::nullopt);
    std::vector<Rect> good{{{100, 100}, {20, 20}}};
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, good, {nan, 110}, 20), std::nullopt);
    EXPECT_EQ(TapTargeting::bestTarget(Kind::deadSpace, good, {95, 110}, nan), std::nullopt);
}

} // namespace
} // namespace velm
