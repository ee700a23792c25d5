#include "input/client/Viewport.h"
#include "tests/support/NonFinite.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::inf;
using test::nan;

Viewport wideInSquare(ScalingMode mode) {
    return Viewport({2000, 1000}, {1000, 1000}, 2, mode);
}

void expectNear(Point actual, Point expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
}

TEST(Viewport, FitLetterboxesFillCropsPixelPerfectFollowsTheScreen) {
    Viewport fit = wideInSquare(ScalingMode::fit);
    EXPECT_DOUBLE_EQ(fit.baseScale(), 0.5);
    EXPECT_EQ(fit.contentRect(), (Rect{{0, 250}, {1000, 500}}));
    EXPECT_FALSE(fit.canPan());

    Viewport fill = wideInSquare(ScalingMode::fill);
    EXPECT_DOUBLE_EQ(fill.baseScale(), 1);
    EXPECT_EQ(fill.displayedSize(), (Size{2000, 1000}));
    EXPECT_TRUE(fill.canPan());
    fill.panBy({2000, 0});
    EXPECT_DOUBLE_EQ(fill.center().x, 0.25);
    fill.panBy({-4000, 0});
    EXPECT_DOUBLE_EQ(fill.center().x, 0.75);
    fill.panBy({0, 300});
    EXPECT_DOUBLE_EQ(fill.center().y, 0.5) << "a picture no taller than the view stays centred";

    // Pixel perfect follows the screen scale.
    EXPECT_DOUBLE_EQ(Viewport({100, 100}, {1000, 1000}, 2, ScalingMode::pixelPerfect).baseScale(), 0.5);
    EXPECT_DOUBLE_EQ(Viewport({5000, 100}, {10, 10}, 0.5, ScalingMode::pixelPerfect).baseScale(), 1);
    EXPECT_DOUBLE_EQ(Viewport({100, 100}, {10, 10}, nan, ScalingMode::pixelPerfect).baseScale(), 1);
}

TEST(Viewport, ConvertsPointsBothWays) {
    Viewport fit = wideInSquare(ScalingMode::fit);
    expectNear(fit.normalizedPoint({500, 500}), {0.5, 0.5});
    expectNear(fit.normalizedPoint({250, 375}), {0.25, 0.25});
    expectNear(fit.viewPoint({0.25, 0.25}), {250, 375});
    expectNear(fit.normalizedPoint({-40, 900}), {0, 1}); // outside maps to the nearest edge
    expectNear(fit.normalizedPoint({nan, inf}), {0.5, 1});

    Viewport empty({0, 0}, {1000, 1000}, 2, ScalingMode::fit);
    EXPECT_FALSE(empty.isValid());
    expectNear(empty.normalizedPoint({10, 10}), {0.5, 0.5});
}

TEST(Viewport, ZoomKeepsTheAnchorStaysInRangeAndResetsWithTheMode) {
    Viewport view = wideInSquare(ScalingMode::fill);
    Point anchor{700, 300};
    Point under = view.normalizedPoint(anchor);
    view.zoomBy(2, anchor);
    EXPECT_DOUBLE_EQ(view.zoom(), 2);
    expectNear(view.normalizedPoint(anchor), under);

    view.zoomBy(100, anchor);
    EXPECT_DOUBLE_EQ(view.zoom(), 8);
    view.zoomBy(0.01, anchor);
    EXPECT_DOUBLE_EQ(view.zoom(), 1);

    Viewport before = view;
    for (double factor : {0.0, -2.0, inf, nan}) {
        view.zoomBy(factor, anchor);
        EXPECT_EQ(view, before) << factor;
    }
    view.zoomBy(2, {nan, 0});
    EXPECT_EQ(view, before);

    // A new mode starts unzoomed, centred.
    view.zoomBy(4, {100, 100});
    view.setMode(ScalingMode::fit);
    EXPECT_DOUBLE_EQ(view.zoom(), 1);
    EXPECT_EQ(view.center(), (Point{0.5, 0.5}));
}

TEST(Viewport, ZoomWithALiftDoesNotMoveThePicture) {
    Viewport view = wideInSquare(ScalingMode::fill);
    view.zoomBy(3, {500, 500});
    view.setObscuredBottom(400);
    view.reveal({0.5, 0.9}, 20);
    ASSERT_GT(view.lift(), 0);

    Point centre = view.center();
    Point anchor{300, 200};
    view.zoomBy(1, anchor);
    expectNear(view.center(), centre);

    Point under = view.normalizedPoint(anchor);
    view.zoomBy(1.5, anchor);
    expectNear(view.normalizedPoint(anchor), under);
}

// A rotated view or a remote screen of another size must not leave the zoomed picture off its edge.
TEST(Viewport, NewSizesKeepThePictureOverTheView) {
    auto zoomedToTheTopLeft = [] {
        Viewport view = wideInSquare(ScalingMode::fit);
        view.zoomBy(4, {500, 500});
        view.panBy({5000, 5000});
        return view;
    };
    Viewport rotated = zoomedToTheTopLeft();
    ASSERT_EQ(rotated.contentRect().origin, (Point{0, 0}));
    rotated.setViewSize({700, 1400}); // the picture is now exactly as tall as the view
    EXPECT_EQ(rotated.contentRect().origin, (Point{0, 0}));

    Viewport flatter = zoomedToTheTopLeft();
    flatter.setContentSize({2000, 250}); // now shorter than the view: centred
    EXPECT_EQ(flatter.contentRect().origin, (Point{0, 250}));

    Viewport sharp({2000, 2000}, {1000, 1000}, 1, ScalingMode::pixelPerfect);
    sharp.panBy({-5000, -5000}); // to the bottom right corner
    sharp.setViewScale(2);       // the whole picture now fits
    EXPECT_EQ(sharp.center(), (Point{0.5, 0.5}));
}

TEST(Viewport, LiftRevealsAPointAboveTheCoveredStrip) {
    Viewport view({1000, 1000}, {1000, 1000}, 1, ScalingMode::fit);
    view.setObscuredBottom(300);
    view.reveal({0.5, 0.9}, 50); // y 900, visible 700, limit 650
    EXPECT_DOUBLE_EQ(view.lift(), 250);
    EXPECT_DOUBLE_EQ(view.contentRect().minY(), -250);
    view.reveal({0.5, 0.9}, 50); // now shown at 650: stays
    EXPECT_DOUBLE_EQ(view.lift(), 250);
    view.reveal({0.5, 1.0}, 1000); // margin capped at a third of 700
    EXPECT_DOUBLE_EQ(view.lift(), 300) << "never above the covered height";
    view.reveal({0.5, 0.1}, 50);
    EXPECT_DOUBLE_EQ(view.lift(), 0);

    view.reveal({0.5, 0.9}, 50);
    view.setObscuredBottom(100);
    EXPECT_DOUBLE_EQ(view.lift(), 100);
    view.setObscuredBottom(0);
    EXPECT_DOUBLE_EQ(view.lift(), 0);
    view.reveal({0.5, 0.9}, 50);
    EXPECT_DOUBLE_EQ(view.lift(), 0) << "nothing covered, nothing lifted";

    view.setObscuredBottom(nan);
    EXPECT_DOUBLE_EQ(view.obscuredBottom(), 0);
}

TEST(Viewport, KeepVisiblePansAZoomedPicture) {
    Viewport view({1000, 1000}, {1000, 1000}, 1, ScalingMode::fit);
    view.keepVisible({0.99, 0.5}, 50);
    EXPECT_EQ(view.center(), (Point{0.5, 0.5})) << "an unzoomed picture cannot pan";

    view.zoomBy(2, {500, 500});
    view.keepVisible({0.7, 0.5}, 50); // at x 900: inside the margin
    EXPECT_EQ(view.center(), (Point{0.5, 0.5}));
    view.keepVisible({0.75, 0.5}, 50); // at x 1000: 50 points too far right
    EXPECT_NEAR(view.viewPoint({0.75, 0.5}).x, 950, 1e-9);
    view.keepVisible({0.25, 0.5}, 50); // at x -50 after that pan
    EXPECT_NEAR(view.viewPoint({0.25, 0.5}).x, 50, 1e-9);
}

TEST(Viewport, DrawingQuad) {
    EXPECT_EQ(wideInSquare(ScalingMode::fit).drawingQuad(), (Viewport::DrawingQuad{1, 0.5f, 0, 0}));
    Viewport lifted({1000, 1000}, {1000, 1000}, 1, ScalingMode::fit);
    lifted.setObscuredBottom(500);
    lifted.reveal({0.5, 1}, 0);
    EXPECT_EQ(lifted.drawingQuad(), (Viewport::DrawingQuad{1, 1, 0, 1}));
    EXPECT_EQ(Viewport({0, 10}, {10, 10}, 1, ScalingMode::fit).drawingQuad(),
              (Viewport::DrawingQuad{1, 1, 0, 0}));
    EXPECT_EQ(Viewport({10, 10}, {inf, 10}, 1, ScalingMode::fit).drawingQuad(),
              (Viewport::DrawingQuad{1, 1, 0, 0}));
}

} // namespace
} // namespace velm
