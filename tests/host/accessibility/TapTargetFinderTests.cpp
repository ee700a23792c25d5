#include "Velm_Host/input/TapTargetFinder.h"
#include "tests/support/FakeAccessibility.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::FakeAccessibility;
using namespace std::chrono_literals;

class TapTargetFinderTest : public ::testing::Test {
protected:
    TapTargetFinderTest() { window = &tree->add(nullptr, "AXWindow", {0, 0, 1920, 1080}); }

    FakeAccessibility::Element& add(std::optional<std::string> role, ScreenRect frame) {
        return tree->add(window, std::move(role), frame);
    }

    std::optional<Point> find(Point point, double reach) { return finder.find(point, reach, streamed); }

    // The area the client sees: here the whole of a 1920 x 1080 screen.
    Rect streamed{{0, 0}, {1920, 1080}};

    std::shared_ptr<FakeAccessibility> tree = std::make_shared<FakeAccessibility>();
    TapTargetFinder finder{tree, [this] { return tree->now(); }};
    FakeAccessibility::Element* window = nullptr;
};

// A miss beside a small button counts in full; beside a wide one it counts almost three times.
TEST_F(TapTargetFinderTest, DeadSpaceSnapsOntoTheButtonBesideItWithinReach) {
    add("AXButton", {300, 300, 40, 20});
    add("AXButton", {300, 400, 100, 20});

    EXPECT_EQ(find({290, 310}, 20), (Point{303, 310}));
    EXPECT_EQ(find({290, 410}, 20), std::nullopt);
}

TEST_F(TapTargetFinderTest, TapsOnAControlOrInsideOneStayWithoutProbing) {
    auto& button = add("AXButton", {300, 300, 80, 40});
    auto& group = tree->add(&button, "AXGroup", {305, 305, 70, 30});
    auto& inner = tree->add(&group, "AXGroup", {310, 310, 60, 20});
    tree->add(&inner, "AXStaticText", {315, 312, 50, 16});
    add("AXButton", {400, 300, 40, 20});

    EXPECT_EQ(find({320, 315}, 40), std::nullopt);
    EXPECT_EQ(tree->hitTests(), 1);
}

// The desktop clicks the pixel nearest to the point: a tap snapped onto a control of one or two
// pixels must not round onto the pixel past its far edge.
TEST_F(TapTargetFinderTest, ATapBelowAndRightOfATinyControlLandsOnItsPixels) {
    add("AXButton", {500, 300, 1, 1});
    add("AXCheckBox", {700, 300, 2, 2});

    EXPECT_EQ(find({505, 305}, 20), (Point{500, 300}));
    EXPECT_EQ(find({706, 306}, 20), (Point{701, 301}));
    EXPECT_EQ(find({495, 295}, 20), (Point{500, 300})) << "the near edge is the control's own";
}

TEST_F(TapTargetFinderTest, ContentReachesOnlySmallControlsCloseBy) {
    add("AXStaticText", {100, 100, 400, 200});
    add("AXButton", {505, 150, 20, 80});
    add("AXButton", {100, 305, 30, 30});

    // Radius 20 over content reaches 20 / 3 points: 5 points off is taken, 10 is not.
    EXPECT_EQ(find({499, 160}, 20), (Point{508, 160}));
    EXPECT_EQ(find({495, 160}, 20), std::nullopt);
    // A control with a side over 24 points is content itself, however close.
    EXPECT_EQ(find({115, 299}, 20), std::nullopt);
}

TEST_F(TapTargetFinderTest, DisabledControlsAreSkipped) {
    add("AXButton", {304, 300, 20, 20}).isEnabled = false;
    add("AXButton", {276, 300, 16, 20});

    EXPECT_EQ(find({300, 310}, 20), (Point{289, 310}));
}

TEST_F(TapTargetFinderTest, ControlsAreMeasuredOnlyWhereTheyLieInTheStreamedArea) {
    // 80 points wide it is too far; its 40 points inside the streamed area are near enough.
    add("AXButton", {1880, 500, 80, 20});
    EXPECT_EQ(find({1870, 510}, 20), (Point{1883, 510}));

    // The client sees only the left half of the screen: the button across its edge counts as far as
    // it shows, one wholly beyond it is not looked for.
    streamed = {{0, 0}, {960, 1080}};
    add("AXButton", {920, 700, 80, 20});
    add("AXButton", {965, 300, 20, 20});
    EXPECT_EQ(find({910, 710}, 20), (Point{923, 710}));
    EXPECT_EQ(find({955, 310}, 20), std::nullopt);
}

TEST_F(TapTargetFinderTest, ProbingStopsOnceItsTimeIsUp) {
    EXPECT_EQ(find({600, 600}, 20), std::nullopt);
    EXPECT_EQ(tree->hitTests(), 1 + 24);

    tree->setHitTestCost(10ms);
    EXPECT_EQ(find({600, 600}, 20), std::nullopt);
    // The tap's own lookup, then probes until more than 30 ms have passed since the first of them.
    EXPECT_EQ(tree->hitTests(), 25 + 1 + 4);
}

TEST_F(TapTargetFinderTest, ProbesOutsideTheStreamedAreaCostNothing) {
    EXPECT_EQ(find({0, 0}, 8), std::nullopt);
    // Of two rings of eight around the corner, only those towards the area are looked at.
    EXPECT_EQ(tree->hitTests(), 1 + 5);

    // An area that is only part of the screen bounds the probes the same way.
    streamed = {{600, 600}, {400, 300}};
    EXPECT_EQ(find({600, 600}, 8), std::nullopt);
    EXPECT_EQ(tree->hitTests(), 6 + 1 + 5);
}

TEST_F(TapTargetFinderTest, NothingUnderTheTapLeavesItWhereItIs) {
    auto bare = std::make_shared<FakeAccessibility>();
    TapTargetFinder bareFinder(bare);

    EXPECT_EQ(bareFinder.find({10, 10}, 20, streamed), std::nullopt);
    EXPECT_EQ(bare->hitTests(), 1);
}

TEST_F(TapTargetFinderTest, BrokenInputIsIgnored) {
    add("AXButton", {300, 300, 40, 20});

    EXPECT_EQ(find({std::nan(""), 310}, 20), std::nullopt);
    EXPECT_EQ(find({290, 310}, std::nan("")), std::nullopt);
    EXPECT_EQ(find({1e300, -1e300}, 20), std::nullopt);
}

} // namespace
} // namespace velm
