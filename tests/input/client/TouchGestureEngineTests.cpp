#include "input/client/TouchGestureEngine.h"
#include "tests/input/client/OutputPrinting.h"
#include "tests/support/NonFinite.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velm {
namespace {

using Phase = TouchSample::Phase;
using GestureOutputs = std::vector<GestureOutput>;

using test::inf;
using test::nan;

const PointerButton left = PointerButton::left();
const PointerButton right = PointerButton::right();

const auto move = [](float x, float y) { return GestureOutput::input(InputEvent::pointerMove(x, y)); };
const auto down = [](PointerButton b) { return GestureOutput::input(InputEvent::pointerDown(b)); };
const auto up = [](PointerButton b) { return GestureOutput::input(InputEvent::pointerUp(b)); };
const auto tap = [](PointerButton b, float reach) { return GestureOutput::input(InputEvent::tap(b, reach)); };
const auto scroll = [](float dx, float dy) { return GestureOutput::input(InputEvent::scroll(dx, dy)); };
const GestureOutput longPress = GestureOutput::longPressRecognized();

// A 2000 x 1000 pixel picture fills a 1000 x 500 point view, so view point (x, y) is remote point
// (x, y) and normalised (x / 1000, y / 500).
class TouchGestureEngineTest : public ::testing::Test {
protected:
    TouchGestureEngine engine{
        TouchMode::trackpad, Viewport({2000, 1000}, {1000, 500}, 2, ScalingMode::fit), {1000, 500}};

    GestureOutputs began(std::int64_t id, double x, double y, double t, double radius = 0) {
        return engine.handle({id, Phase::began, {x, y}, t, radius});
    }
    GestureOutputs moved(std::int64_t id, double x, double y, double t, double radius = 0) {
        return engine.handle({id, Phase::moved, {x, y}, t, radius});
    }
    GestureOutputs ended(std::int64_t id, double x, double y, double t) {
        return engine.handle({id, Phase::ended, {x, y}, t});
    }
    GestureOutputs cancelled(std::int64_t id, double t) {
        return engine.handle({id, Phase::cancelled, {0, 0}, t});
    }

    void direct() { engine.setMode(TouchMode::direct); }
};

TEST_F(TouchGestureEngineTest, TrackpadTapClicksAtThePointerWithoutMovingIt) {
    EXPECT_EQ(began(1, 100, 100, 0), GestureOutputs{});
    EXPECT_EQ(moved(1, 103, 100, 0.1), GestureOutputs{});
    EXPECT_EQ(ended(1, 103, 100, 0.25), (GestureOutputs{down(left), up(left)}));
    EXPECT_EQ(engine.pointer(), (Point{0.5, 0.5}));

    EXPECT_EQ(began(2, 100, 100, 1), GestureOutputs{});
    EXPECT_EQ(engine.holdElapsed(1.3125), GestureOutputs{});
    EXPECT_EQ(ended(2, 100, 100, 1.3125), GestureOutputs{}) << "too long for a tap, too short for a hold";
}

TEST_F(TouchGestureEngineTest, TrackpadIgnoresTheFirstFourPoints) {
    began(1, 100, 100, 0);
    EXPECT_EQ(moved(1, 103, 100, 0.1), GestureOutputs{});
    EXPECT_EQ(moved(1, 105, 100, 0.2), GestureOutputs{})
        << "the sample crossing 4 points only starts tracking";
    EXPECT_EQ(engine.pointer(), (Point{0.5, 0.5}));
    GestureOutputs out = moved(1, 115, 100, 1.2); // 10 points in 1 s, from the crossing sample
    double expected = 0.5 + 10 * (10.0 / 700 + 0.9) / 1000;
    EXPECT_NEAR(engine.pointer().x, expected, 1e-12);
    EXPECT_EQ(out, GestureOutputs{move(static_cast<float>(expected), 0.5f)});
}

TEST_F(TouchGestureEngineTest, TrackpadGainIsCappedAndThePointerStaysOnScreen) {
    began(1, 100, 100, 0);
    moved(1, 110, 100, 0.5);
    moved(1, 120, 100, 0.5 + 1.0 / 240); // 2400 points per second: gain capped at 3.5
    EXPECT_NEAR(engine.pointer().x, 0.535, 1e-12);

    engine.setPointer({1, 0.5});
    moved(1, 200, 100, 1);
    EXPECT_EQ(engine.pointer().x, 1);
    engine.setPointer({nan, -3});
    EXPECT_EQ(engine.pointer(), (Point{0.5, 0}));
}

TEST_F(TouchGestureEngineTest, TrackpadHoldDragsUntilTheLift) {
    began(1, 100, 100, 0);
    EXPECT_EQ(engine.holdElapsed(0.375), GestureOutputs{});
    EXPECT_EQ(engine.holdElapsed(0.4), (GestureOutputs{longPress, down(left)}));
    EXPECT_EQ(engine.holdElapsed(0.5), GestureOutputs{}) << "a hold fires once";
    GestureOutputs out = moved(1, 101, 100, 1.4);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0], move(0.5f, 0.5f)) << "a drag moves at once, without the jitter allowance";
    EXPECT_EQ(began(2, 300, 300, 1.5), GestureOutputs{}) << "a second finger does not end a drag";
    EXPECT_EQ(moved(2, 320, 300, 1.6), GestureOutputs{});
    EXPECT_EQ(ended(2, 320, 300, 1.7), GestureOutputs{});
    EXPECT_EQ(ended(1, 101, 100, 2), GestureOutputs{up(left)});
}

TEST_F(TouchGestureEngineTest, DirectTouchPointsAndTapsWhereTheFingerIs) {
    direct();
    EXPECT_EQ(began(1, 250, 125, 0), GestureOutputs{move(0.25f, 0.25f)});
    EXPECT_EQ(ended(1, 250, 125, 0.25), (GestureOutputs{down(left), up(left)}));
    EXPECT_EQ(engine.pointer(), (Point{0.25, 0.25}));

    engine.setHostFindsTapTargets(true);
    began(2, 500, 250, 1);
    EXPECT_EQ(ended(2, 500, 250, 1.25), GestureOutputs{tap(left, 20)}) << "no radius: the default 20";
    began(3, 500, 250, 2, 12);
    moved(3, 502, 250, 2.1, 15);
    EXPECT_EQ(ended(3, 502, 250, 2.25), GestureOutputs{tap(left, 15)}) << "the largest radius seen";

    // Half the view: one view point is two remote points.
    engine.setViewport(Viewport({2000, 1000}, {500, 250}, 2, ScalingMode::fit));
    began(4, 100, 100, 3);
    EXPECT_EQ(ended(4, 100, 100, 3.25), GestureOutputs{tap(left, 40)});
}

TEST_F(TouchGestureEngineTest, DirectDragStartsBeyondTheSlopAndACancelReleasesIt) {
    direct();
    began(1, 100, 100, 0);
    EXPECT_EQ(moved(1, 110, 100, 0.1), GestureOutputs{}) << "10 points is not yet moved";
    EXPECT_EQ(moved(1, 111, 100, 0.2), (GestureOutputs{down(left), move(0.111f, 0.2f)}));
    EXPECT_EQ(moved(1, 200, 250, 0.3), GestureOutputs{move(0.2f, 0.5f)});
    EXPECT_EQ(engine.holdElapsed(5), GestureOutputs{});
    EXPECT_EQ(ended(1, 200, 250, 0.4), GestureOutputs{up(left)});

    // A cancel releases only a held button.
    began(2, 100, 100, 1);
    moved(2, 150, 100, 1.1);
    EXPECT_EQ(cancelled(2, 1.2), GestureOutputs{up(left)});
    began(3, 100, 100, 2);
    EXPECT_EQ(cancelled(3, 2.1), GestureOutputs{});
}

TEST_F(TouchGestureEngineTest, DirectLongPressIsASecondaryClick) {
    direct();
    began(1, 100, 100, 0);
    EXPECT_EQ(engine.holdElapsed(0.5), GestureOutputs{});
    EXPECT_EQ(engine.holdElapsed(0.55), (GestureOutputs{longPress, down(right), up(right)}));
    EXPECT_EQ(engine.holdElapsed(0.7), GestureOutputs{});
    EXPECT_EQ(moved(1, 150, 100, 0.8), GestureOutputs{}) << "the long press took the gesture";
    EXPECT_EQ(ended(1, 150, 100, 0.9), GestureOutputs{});

    engine.setHostFindsTapTargets(true);
    began(2, 100, 100, 1, 10);
    EXPECT_EQ(engine.holdElapsed(1.75), (GestureOutputs{longPress, tap(right, 10)}));
}

TEST_F(TouchGestureEngineTest, OneFingerScrollCoastsOnlyAfterARecentFastMove) {
    direct();
    engine.setOneFingerScrolls(true);
    constexpr double step = 1.0 / 64;
    began(1, 100, 100, 0);
    EXPECT_EQ(moved(1, 100, 111, step), GestureOutputs{}) << "the first moved sample only starts the scroll";
    EXPECT_EQ(moved(1, 100, 121, 2 * step), GestureOutputs{GestureOutput::scroll({0, 10})});
    EXPECT_EQ(moved(1, 100, 121, 3 * step), GestureOutputs{}) << "no movement, no scroll";
    EXPECT_EQ(moved(1, 100, 131, 4 * step), GestureOutputs{GestureOutput::scroll({0, 10})});
    GestureOutputs out = ended(1, 100, 131, 5 * step);
    double v1 = 0.6 * 640;
    double v2 = 0.4 * v1;
    double v3 = 0.4 * v2 + 0.6 * 640;
    ASSERT_EQ(out.size(), 1u);
    ASSERT_NE(out[0].get<GestureOutput::Coast>(), nullptr);
    EXPECT_NEAR(out[0].get<GestureOutput::Coast>()->velocity.dy, v3, 1e-9);

    began(2, 100, 100, 10);
    moved(2, 100, 300, 10.01);
    moved(2, 100, 500, 10.02);
    EXPECT_EQ(ended(2, 100, 500, 10.12), GestureOutputs{}) << "lifted 0.1 s after the last move";
}

TEST_F(TouchGestureEngineTest, ArmedHoldDragsOrClicksSecondary) {
    direct();
    engine.setOneFingerScrolls(true);
    began(1, 100, 100, 0);
    EXPECT_EQ(engine.holdElapsed(0.4), GestureOutputs{longPress});
    EXPECT_EQ(engine.holdElapsed(0.6), GestureOutputs{});
    EXPECT_EQ(moved(1, 103, 100, 0.7), GestureOutputs{});
    EXPECT_EQ(moved(1, 105, 100, 0.8), (GestureOutputs{down(left), move(0.105f, 0.2f)}));
    EXPECT_EQ(ended(1, 105, 100, 0.9), GestureOutputs{up(left)});

    began(2, 100, 100, 1);
    engine.holdElapsed(1.5);
    EXPECT_EQ(ended(2, 101, 100, 1.6), (GestureOutputs{down(right), up(right)}));
}

TEST_F(TouchGestureEngineTest, TwoFingerTapIsASecondaryClickInBothModes) {
    for (TouchMode mode : allTouchModes) {
        engine.setMode(mode);
        engine.setHostFindsTapTargets(true);
        began(1, 100, 100, 0);
        EXPECT_EQ(began(2, 200, 100, 0.25), GestureOutputs{});
        EXPECT_EQ(ended(1, 100, 100, 0.5), (GestureOutputs{down(right), up(right)}));
        EXPECT_EQ(ended(2, 200, 100, 0.5), GestureOutputs{});

        began(1, 100, 100, 1);
        began(2, 200, 100, 1.25);
        EXPECT_EQ(ended(1, 100, 100, 1.5625), GestureOutputs{}) << "too slow";
        ended(2, 200, 100, 1.6);

        began(1, 100, 100, 2);
        began(2, 200, 100, 2.1);
        EXPECT_EQ(cancelled(1, 2.2), GestureOutputs{}) << "a cancel is no tap";
        cancelled(2, 2.2);
    }
}

TEST_F(TouchGestureEngineTest, TwoFingerScrollSendsTwiceTheCentroidMovement) {
    began(1, 100, 100, 0);
    began(2, 200, 100, 0.01);
    EXPECT_EQ(moved(1, 100, 106, 0.02), GestureOutputs{});
    EXPECT_EQ(moved(2, 200, 116, 0.03), GestureOutputs{}) << "the sample that decides sends nothing";
    EXPECT_EQ(moved(1, 100, 110, 0.04), GestureOutputs{scroll(0, 4)});
    EXPECT_EQ(moved(1, 100, 110, 0.05), GestureOutputs{scroll(0, 0)});
    EXPECT_EQ(moved(2, 190, 116, 0.06), GestureOutputs{scroll(-10, 0)});
    EXPECT_EQ(ended(1, 100, 110, 0.1), GestureOutputs{}) << "a decided gesture is no tap";
    EXPECT_EQ(moved(2, 100, 100, 0.2), GestureOutputs{}) << "the remaining finger does nothing";
    EXPECT_EQ(ended(2, 100, 100, 0.3), GestureOutputs{});
    EXPECT_EQ(began(3, 100, 100, 1), GestureOutputs{}) << "all fingers up: a new gesture";
    EXPECT_EQ(ended(3, 100, 100, 1.1), (GestureOutputs{down(left), up(left)}));
}

TEST_F(TouchGestureEngineTest, PinchZoomsAndPansAroundTheCentroid) {
    direct();
    began(1, 100, 100, 0);
    began(2, 200, 100, 0);
    EXPECT_EQ(moved(2, 229, 115, 0.1), GestureOutputs{})
        << "spread by more than 28 while the centroid moved too: a pinch";
    GestureOutputs out = moved(1, 90, 115, 0.2);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_NE(out[0].get<GestureOutput::Zoom>(), nullptr);
    EXPECT_DOUBLE_EQ(out[0].get<GestureOutput::Zoom>()->factor, 139.0 / std::hypot(129.0, 15.0));
    EXPECT_EQ(out[0].get<GestureOutput::Zoom>()->anchor, (Point{159.5, 115}));
    EXPECT_EQ(out[1], GestureOutput::pan({-5, 7.5}));
    EXPECT_EQ(moved(1, 90, 115, 0.3), (GestureOutputs{GestureOutput::zoom(1, {159.5, 115})}))
        << "still centroid: no pan";
}

TEST_F(TouchGestureEngineTest, PinchBelowOnePointPansWithoutZooming) {
    began(1, 100, 100, 0);
    began(2, 200, 100, 0);
    moved(2, 100.5, 100, 0.1);
    EXPECT_EQ(moved(1, 90, 100, 0.2), GestureOutputs{GestureOutput::pan({-5, 0})});
}

TEST_F(TouchGestureEngineTest, ThreeFingersPanThePicture) {
    began(1, 100, 100, 0);
    began(2, 200, 100, 0);
    EXPECT_EQ(began(3, 300, 100, 0), GestureOutputs{});
    EXPECT_EQ(moved(3, 303, 106, 0.1), GestureOutputs{GestureOutput::pan({1, 2})});
    EXPECT_EQ(moved(3, 303, 106, 0.2), GestureOutputs{GestureOutput::pan({0, 0})});
    EXPECT_EQ(ended(3, 303, 106, 0.3), GestureOutputs{});
    EXPECT_EQ(moved(1, 150, 100, 0.4), GestureOutputs{});
    EXPECT_EQ(began(4, 100, 100, 0.5), GestureOutputs{}) << "nothing starts until every finger is up";

    // A third finger also turns a two-finger gesture into a pan.
    ended(1, 0, 0, 1);
    ended(2, 0, 0, 1);
    ended(4, 0, 0, 1);
    began(1, 0, 0, 2);
    began(2, 30, 0, 2);
    began(3, 60, 0, 2);
    EXPECT_EQ(moved(1, 3, 0, 2.1), GestureOutputs{GestureOutput::pan({1, 0})});
}

TEST_F(TouchGestureEngineTest, MoreFingersDuringAPanDoNotJerkThePicture) {
    began(1, 100, 100, 0);
    began(2, 200, 100, 0);
    began(3, 300, 100, 0);
    for (std::int64_t id = 4; id <= 10; ++id) {
        double x = 100 * static_cast<double>(id);
        EXPECT_EQ(began(id, x, 400, 0.1), GestureOutputs{}) << id;
        EXPECT_EQ(moved(id, x, 400, 0.2), GestureOutputs{GestureOutput::pan({0, 0})})
            << "finger " << id << " only came down";
    }
    EXPECT_EQ(moved(1, 110, 100, 0.3), GestureOutputs{GestureOutput::pan({1, 0})});
}

// The view never reported the end of the first touch under this id: the new one starts afresh.
TEST_F(TouchGestureEngineTest, ATouchBegunAgainUnderItsIdEndsTheOneBefore) {
    direct();
    began(1, 100, 100, 0);
    EXPECT_EQ(began(1, 600, 300, 5), GestureOutputs{move(0.6f, 0.6f)});
    EXPECT_EQ(moved(1, 602, 300, 5.05), GestureOutputs{}) << "a still finger drags nothing";
    EXPECT_EQ(ended(1, 602, 300, 5.1), (GestureOutputs{down(left), up(left)}));

    began(2, 100, 100, 6);
    moved(2, 150, 100, 6.1);
    EXPECT_EQ(began(2, 600, 300, 7), (GestureOutputs{up(left), move(0.6f, 0.6f)})) << "the drag is let go";
    ended(2, 600, 300, 7.5);

    // A two-finger scroll is ended for good, without a jump.
    engine.setMode(TouchMode::trackpad);
    began(3, 100, 100, 8);
    began(4, 200, 100, 8);
    moved(3, 100, 130, 8.1); // a scroll
    EXPECT_EQ(began(4, 900, 450, 8.2), GestureOutputs{});
    EXPECT_EQ(moved(4, 900, 460, 8.3), GestureOutputs{});
    ended(3, 100, 130, 8.4);
    ended(4, 900, 460, 8.4);
    began(5, 100, 100, 9);
    EXPECT_EQ(ended(5, 100, 100, 9.1), (GestureOutputs{down(left), up(left)}));
}

TEST_F(TouchGestureEngineTest, UnknownOrBrokenSamplesNeverLeaveAButtonHeldOrAValueBroken) {
    EXPECT_EQ(moved(7, 1, 1, 0), GestureOutputs{});
    EXPECT_EQ(ended(7, 1, 1, 0), GestureOutputs{});
    EXPECT_EQ(cancelled(7, 0), GestureOutputs{});
    began(8, 100, 100, 0.5);
    EXPECT_EQ(ended(8, 100, 100, 0.6), (GestureOutputs{down(left), up(left)}));
    EXPECT_EQ(ended(8, 100, 100, 0.7), GestureOutputs{}) << "a finger that ended is unknown";

    direct();
    EXPECT_EQ(began(1, nan, 100, 0), GestureOutputs{});
    EXPECT_EQ(moved(1, 100, 100, 0.1), GestureOutputs{})
        << "a touch that could not be placed is not followed";
    EXPECT_EQ(began(2, 100, 100, inf), GestureOutputs{});

    began(3, 100, 100, 1);
    moved(3, 150, 100, 1.1);
    EXPECT_EQ(moved(3, inf, 100, 1.2), GestureOutputs{});
    EXPECT_EQ(moved(3, 1e300, 100, 1.2), GestureOutputs{});
    EXPECT_EQ(ended(3, 150, 100, nan), GestureOutputs{up(left)}) << "a lift at a broken time still lets go";

    began(4, 100, 100, 2);
    EXPECT_EQ(ended(4, 100, 100, -inf), GestureOutputs{}) << "no tap from a broken time";
    EXPECT_EQ(engine.holdElapsed(nan), GestureOutputs{});

    engine.setHostFindsTapTargets(true);
    began(5, 100, 100, 3, nan);
    EXPECT_EQ(ended(5, 100, 100, 3.1), GestureOutputs{tap(left, 20)});
    engine.setRemotePointSize({inf, nan});
    began(6, 100, 100, 4, 10);
    EXPECT_EQ(ended(6, 100, 100, 4.1), GestureOutputs{tap(left, 0)});

    engine.setMode(TouchMode::trackpad);
    began(7, 100, 100, 5);
    moved(7, 110, 100, 5.1);
    moved(7, 120, 100, 5.2);
    EXPECT_TRUE(std::isfinite(engine.pointer().x));
}

} // namespace
} // namespace velm
