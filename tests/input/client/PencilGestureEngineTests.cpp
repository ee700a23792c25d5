#include "input/client/PencilGestureEngine.h"
#include "input/client/ScrollMomentum.h"
#include "tests/input/client/OutputPrinting.h"
#include "tests/support/NonFinite.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velm {
namespace {

using PencilOutputs = std::vector<PencilOutput>;

using test::inf;
using test::nan;

const PencilOutput buttonDown = PencilOutput::buttonDown();
const PencilOutput buttonUp = PencilOutput::buttonUp();
const PencilOutput click = PencilOutput::click();
PencilOutput moveTo(double x, double y) {
    return PencilOutput::moveTo({x, y});
}

TEST(PencilGestureEngine, TapClicksWhereTheStylusFirstTouched) {
    PencilGestureEngine pencil;
    EXPECT_EQ(pencil.began({100, 100}, 0, PencilMode::automatic, false), PencilOutputs{moveTo(100, 100)});
    EXPECT_TRUE(pencil.isPending());
    EXPECT_EQ(pencil.moved({108, 100}, 0.1), PencilOutputs{}) << "8 points is still a tap";
    EXPECT_EQ(pencil.ended({108, 100}, 0.2), (PencilOutputs{moveTo(100, 100), click}));
    EXPECT_FALSE(pencil.isPending());
}

TEST(PencilGestureEngine, HoldArmsADrag) {
    PencilGestureEngine pencil;
    pencil.began({100, 100}, 1, PencilMode::automatic, false);
    EXPECT_EQ(pencil.holdElapsed(1.375), PencilOutputs{});
    EXPECT_EQ(pencil.holdElapsed(1.5), (PencilOutputs{buttonDown, PencilOutput::dragArmed()}));
    EXPECT_FALSE(pencil.isPending());
    EXPECT_EQ(pencil.holdElapsed(2), PencilOutputs{});
    EXPECT_EQ(pencil.moved({102, 100}, 2), PencilOutputs{moveTo(102, 100)});
    EXPECT_EQ(pencil.ended({104, 101}, 2.1), (PencilOutputs{moveTo(104, 101), buttonUp}));
}

TEST(PencilGestureEngine, PointerModeDragsAtOnceUntilCancelledOrANewStroke) {
    PencilGestureEngine pencil;
    EXPECT_EQ(pencil.began({5, 6}, 0, PencilMode::pointer, false), (PencilOutputs{moveTo(5, 6), buttonDown}));
    EXPECT_EQ(pencil.holdElapsed(1), PencilOutputs{});
    EXPECT_EQ(pencil.cancelled(), PencilOutputs{buttonUp});
    EXPECT_EQ(pencil.cancelled(), PencilOutputs{});
    EXPECT_EQ(pencil.moved({7, 7}, 0.1), PencilOutputs{});

    pencil.began({5, 6}, 1, PencilMode::pointer, false);
    EXPECT_EQ(pencil.began({50, 60}, 2, PencilMode::automatic, false),
              (PencilOutputs{buttonUp, moveTo(50, 60)}))
        << "a new stroke releases the button of an unfinished drag";
    EXPECT_EQ(pencil.began({70, 60}, 3, PencilMode::automatic, true), PencilOutputs{}) << "nothing was held";
}

TEST(PencilGestureEngine, ScrollCoastsOnlyAfterARecentFastMove) {
    PencilGestureEngine pencil;
    constexpr double step = 1.0 / 64;
    pencil.began({100, 100}, 0, PencilMode::automatic, false);
    EXPECT_EQ(pencil.moved({100, 109}, step), PencilOutputs{})
        << "the movement up to the slop is not scrolled";
    EXPECT_EQ(pencil.moved({100, 119}, 2 * step), PencilOutputs{PencilOutput::scroll({0, 10})});
    EXPECT_EQ(pencil.moved({100, 119}, 3 * step), PencilOutputs{});
    EXPECT_EQ(pencil.moved({100, 139}, 4 * step), PencilOutputs{PencilOutput::scroll({0, 20})});
    // 640, then 0, then 1280 points per second, smoothed.
    double vy = 0.4 * (0.4 * (0.6 * 640)) + 0.6 * 1280;
    PencilOutputs out = pencil.ended({100, 139}, 5 * step);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_NE(out[0].get<PencilOutput::Coast>(), nullptr);
    EXPECT_NEAR(out[0].get<PencilOutput::Coast>()->velocity.dy, vy, 1e-9);
    EXPECT_EQ(out[0].get<PencilOutput::Coast>()->velocity.dx, 0);

    pencil.began({100, 100}, 2, PencilMode::automatic, false);
    pencil.moved({100, 120}, 2.01);
    pencil.moved({100, 220}, 2.02);
    EXPECT_EQ(pencil.ended({100, 220}, 2.1), PencilOutputs{}) << "0.08 s after the last move";
}

TEST(PencilGestureEngine, WritingStrokeClicksOnlyWhenItStayedPut) {
    PencilGestureEngine pencil;
    EXPECT_EQ(pencil.began({10, 10}, 0, PencilMode::pointer, true), PencilOutputs{});
    EXPECT_FALSE(pencil.isPending());
    pencil.moved({16, 10}, 0.1);
    EXPECT_EQ(pencil.ended({16, 10}, 0.2), (PencilOutputs{moveTo(10, 10), click}));

    pencil.began({10, 10}, 1, PencilMode::automatic, true);
    pencil.moved({19, 10}, 1.1);
    pencil.moved({10, 10}, 1.2);
    EXPECT_EQ(pencil.ended({10, 10}, 1.3), PencilOutputs{}) << "once wandered, always wandered";
}

TEST(PencilGestureEngine, BrokenSamplesOnlyLetGo) {
    PencilGestureEngine pencil;
    pencil.began({5, 6}, 0, PencilMode::pointer, false);
    EXPECT_EQ(pencil.moved({nan, 6}, 0.1), PencilOutputs{});
    EXPECT_EQ(pencil.ended({5, 6}, inf), PencilOutputs{buttonUp});

    pencil.began({5, 6}, 1, PencilMode::pointer, false);
    EXPECT_EQ(pencil.began({inf, 6}, 2, PencilMode::pointer, false), PencilOutputs{buttonUp});
    EXPECT_EQ(pencil.ended({5, 6}, 3), PencilOutputs{}) << "the broken stroke was dropped";

    pencil.began({5, 6}, 4, PencilMode::automatic, false);
    EXPECT_EQ(pencil.holdElapsed(nan), PencilOutputs{});
    EXPECT_EQ(pencil.ended({nan, nan}, 4.1), PencilOutputs{}) << "no click from a broken lift";
}

TEST(ScrollMomentum, DecaysUntilItStopsAndNeverStartsBroken) {
    ScrollMomentum momentum({1000, 0});
    std::optional<Size> first = momentum.step(0.1);
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(first->width, 100);
    EXPECT_NEAR(momentum.velocity().dx, 818.566, 1e-3);

    EXPECT_EQ(momentum.step(0), std::nullopt);
    EXPECT_EQ(momentum.step(-1), std::nullopt);
    EXPECT_EQ(momentum.step(nan), std::nullopt);
    EXPECT_NEAR(momentum.velocity().dx, 818.566, 1e-3) << "a refused step keeps the velocity";

    int steps = 0;
    while (momentum.step(1.0 / 60))
        ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_LE(momentum.velocity().length(), ScrollMomentum::stopSpeed);
    EXPECT_GT(momentum.velocity().length(), ScrollMomentum::stopSpeed * std::pow(0.998, 1000.0 / 60));

    // A broken or slow velocity does not coast at all.
    EXPECT_EQ(ScrollMomentum({nan, 500}).step(0.1), std::nullopt);
    EXPECT_EQ(ScrollMomentum({inf, 0}).step(0.1), std::nullopt);
    EXPECT_EQ(ScrollMomentum({20, 0}).step(0.1), std::nullopt);
}

// A frame that came late, or a view paused mid-coast, must not throw the picture further than the whole
// coast would have carried it: about half a second's worth of its starting velocity.
TEST(ScrollMomentum, ALateStepGoesNoFurtherThanTheWholeCoast) {
    for (double late : {5.0, 50.0}) {
        ScrollMomentum momentum({1000, -2000});
        std::optional<Size> moved = momentum.step(late);
        ASSERT_TRUE(moved);
        EXPECT_GT(moved->width, 490) << late;
        EXPECT_LT(moved->width, 500) << late;
        EXPECT_DOUBLE_EQ(moved->height, -2 * moved->width) << "the direction is kept";
        EXPECT_EQ(momentum.step(1.0 / 60), std::nullopt) << "the coast is over";
    }
}

} // namespace
} // namespace velm
