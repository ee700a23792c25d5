#include "Velm_Host/ui/DeviceArt.h"
#include "Velm_Host/ui/PlaceholderImage.h"
#include "Velm_Host/ui/ScreenAnatomy.h"
#include "Velm_Host/ui/ScreenMask.h"
#include "Velm_Host/ui/ScreenSearch.h"
#include "tests/support/Screenshots.h"

#include <QColor>
#include <QPainter>
#include <gtest/gtest.h>

namespace velm {
namespace {

struct Rgba {
    std::uint8_t red, green, blue, alpha;
};

constexpr Rgba bezel{30, 30, 30, 255};
constexpr Rgba blueScreen{10, 60, 200, 255};

RGBABuffer filledBuffer(std::int64_t width, std::int64_t height, Rgba colour) {
    RGBABuffer buffer = *RGBABuffer::zeroed(width, height);
    for (std::size_t i = 0; i < buffer.pixelCount(); ++i) {
        std::copy_n(&colour.red, 4, &buffer.bytes[i * 4]);
    }
    return buffer;
}

void paint(RGBABuffer& buffer, const PixelBox& box, Rgba colour) {
    for (std::int64_t y = box.top; y <= box.bottom; ++y) {
        for (std::int64_t x = box.left; x <= box.right; ++x) {
            std::copy_n(&colour.red, 4, &buffer.bytes[buffer.offset(x, y)]);
        }
    }
}

// A device seen from the front: a bezel with a screen of the given colour inside it.
RGBABuffer device(std::int64_t width, std::int64_t height, const PixelBox& screen, Rgba colour) {
    RGBABuffer buffer = filledBuffer(width, height, bezel);
    paint(buffer, screen, colour);
    return buffer;
}

QImage imageOf(const RGBABuffer& buffer) {
    QImage image(int(buffer.width), int(buffer.height), QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        std::copy_n(&buffer.bytes[buffer.offset(0, y)], buffer.width * 4, image.scanLine(y));
    }
    return image;
}

std::uint8_t blueLevel(Rgba pixel) {
    return ScreenMask::blue(filledBuffer(1, 1, pixel)).values[0];
}

TEST(ScreenMask, BlueCountsOnlyOpaquePixelsRisingFromRedToBlue) {
    EXPECT_GE(blueLevel({10, 60, 119, 255}), ScreenMask::screenLevel);
    EXPECT_LT(blueLevel({10, 60, 118, 255}), ScreenMask::screenLevel);
    EXPECT_EQ(blueLevel({10, 60, 145, 255}), 255);
    EXPECT_EQ(blueLevel({10, 60, 20, 255}), 0);
    EXPECT_EQ(blueLevel({100, 100, 100, 255}), 0);
    EXPECT_EQ(blueLevel({10, 60, 200, 250}), 0);
}

TEST(ScreenMask, AcceptsOnlyABoxOverAFifthOfThePictureAndOverNineTenthsFull) {
    // 10 × 10 pictures: a 4 × 5 box is exactly a fifth, a 3 × 7 box just over.
    EXPECT_FALSE(ScreenMask::blue(device(10, 10, {0, 0, 3, 4}, blueScreen)).acceptedBox());
    EXPECT_EQ(ScreenMask::blue(device(10, 10, {0, 0, 2, 6}, blueScreen)).acceptedBox(),
              (PixelBox{0, 0, 2, 6}));

    // A 4 × 6 box (24 pixels): 21 screen pixels is under nine tenths, 22 over.
    RGBABuffer holes = device(10, 10, {2, 2, 5, 7}, blueScreen);
    paint(holes, {3, 3, 4, 3}, bezel);
    paint(holes, {3, 4, 3, 4}, bezel);
    EXPECT_FALSE(ScreenMask::blue(holes).acceptedBox());
    paint(holes, {3, 4, 3, 4}, blueScreen);
    EXPECT_TRUE(ScreenMask::blue(holes).acceptedBox());

    EXPECT_FALSE(ScreenMask::blue(device(10, 10, {0, 0, 9, 0}, blueScreen)).acceptedBox())
        << "one row is no screen";
}

TEST(ScreenMask, FloodFillFindsAUniformDarkScreenFromThreeTenthsDown) {
    const Rgba dark{40, 42, 45, 255};
    RGBABuffer picture = device(100, 80, {5, 5, 94, 59}, {200, 200, 200, 255});
    paint(picture, {10, 10, 89, 54}, dark);
    paint(picture, {30, 30, 30, 30}, {45, 49, 40, 255}); // within 9 of the seed's colour
    paint(picture, {60, 30, 60, 30}, {40, 42, 60, 255}); // not
    const ScreenMask mask = ScreenMask::floodFill(picture);
    EXPECT_EQ(mask.count, std::size_t(80 * 45 - 1));
    EXPECT_EQ(mask.values[30 * 100 + 30], 255);
    EXPECT_EQ(mask.values[30 * 100 + 60], 0);
    EXPECT_EQ(mask.acceptedBox(), (PixelBox{10, 10, 89, 54}));

    paint(picture, {50, 24, 50, 24}, {40, 42, 45, 250});
    EXPECT_EQ(ScreenMask::floodFill(picture).count, 0u) << "a seed that is not opaque finds nothing";
}

TEST(ScreenMask, FloodFillCoversALargeUniformPicture) {
    const RGBABuffer picture = filledBuffer(1500, 1200, bezel);
    EXPECT_EQ(ScreenMask::floodFill(picture).count, picture.pixelCount());
}

TEST(ScreenSearch, TrimsToPixelsAboveHalfAlphaAndRefusesOversizedPictures) {
    RGBABuffer picture = filledBuffer(20, 10, {0, 0, 0, 128});
    EXPECT_FALSE(ScreenSearch::run(picture, false));
    paint(picture, {3, 2, 7, 4}, {0, 0, 0, 129});
    const auto search = ScreenSearch::run(picture, false);
    ASSERT_TRUE(search);
    EXPECT_EQ(search->picture.width, 5);
    EXPECT_EQ(search->picture.height, 3);
    EXPECT_FALSE(search->screen);

    EXPECT_FALSE(RGBABuffer::zeroed(4097, 1));
    EXPECT_TRUE(ScreenSearch::run(filledBuffer(4096, 1, bezel), false));
}

TEST(ScreenSearch, TurnsAnUprightDeviceToLandscapeAndFindsItsScreenAgain) {
    RGBABuffer phone = device(40, 80, {4, 6, 35, 73}, blueScreen);
    paint(phone, {0, 0, 0, 0}, {255, 0, 0, 255}); // top-left corner marker
    const auto search = ScreenSearch::run(phone, false);
    ASSERT_TRUE(search);
    EXPECT_EQ(search->picture.width, 80);
    EXPECT_EQ(search->picture.height, 40);
    // Column 0, row 0 of a 40-wide picture goes to column 0, row 39.
    EXPECT_EQ(search->picture.bytes[search->picture.offset(0, 39)], 255);
    ASSERT_TRUE(search->screen);
    EXPECT_EQ(search->screen->box, (PixelBox{6, 4, 73, 35}));
}

QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

TEST(ScreenAnatomy, FitsTheFillInsideTheScreenOnBlack) {
    const auto anatomy = screenAnatomy(imageOf(device(140, 90, {20, 20, 119, 69}, blueScreen)), false);
    ASSERT_TRUE(anatomy && anatomy->mask);
    EXPECT_EQ(anatomy->screenRect, QRectF(20, 20, 100, 50));
    const QImage filled = anatomy->filled(solid(400, 400, Qt::red));
    test::writeScreenshot(filled, "ScreenAnatomy-fitted");
    EXPECT_EQ(filled.pixelColor(70, 45), QColor(Qt::red));
    EXPECT_EQ(filled.pixelColor(30, 45), QColor(Qt::black)) << "the fill is 50 × 50 in a 100 × 50 screen";
    EXPECT_EQ(filled.pixelColor(110, 45), QColor(Qt::black));
    EXPECT_EQ(filled.pixelColor(10, 45), QColor(bezel.red, bezel.green, bezel.blue));

    EXPECT_EQ(anatomy->filled(std::nullopt), anatomy->picture);
    EXPECT_EQ(anatomy->filled(QImage()), anatomy->picture);
}

TEST(ScreenAnatomy, LeavesANotchInTheScreenAlone) {
    RGBABuffer picture = device(160, 100, {10, 10, 149, 89}, blueScreen);
    paint(picture, {70, 10, 89, 15}, {0, 0, 0, 255});
    const auto anatomy = screenAnatomy(imageOf(picture), false);
    ASSERT_TRUE(anatomy && anatomy->mask);
    const QImage filled = anatomy->filled(solid(140, 80, Qt::green));
    test::writeScreenshot(filled, "ScreenAnatomy-notch");
    EXPECT_EQ(filled.pixelColor(80, 12), QColor(Qt::black)) << "the notch keeps its own pixels";
    EXPECT_EQ(filled.pixelColor(40, 12), QColor(Qt::green));
}

TEST(ScreenAnatomy, APictureWithoutAScreenStaysAsItIs) {
    const auto anatomy = screenAnatomy(solid(60, 40, Qt::gray), false);
    ASSERT_TRUE(anatomy);
    EXPECT_FALSE(anatomy->mask);
    EXPECT_TRUE(anatomy->screenRect.isEmpty());
    EXPECT_EQ(anatomy->filled(solid(10, 10, Qt::red)), anatomy->picture);

    EXPECT_FALSE(screenAnatomy(QImage(), false));
    EXPECT_FALSE(screenAnatomy(solid(30, 30, Qt::transparent), true));
}

TEST(ScreenAnatomy, FillsAnAllInOnesUniformScreenWithThePlaceholder) {
    QImage picture(600, 520, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    DeviceArt(DeviceShape::iMac, 16.0 / 9, solid(16, 9, QColor(120, 120, 128)))
        .paint(painter, picture.rect());
    painter.end();

    const auto anatomy = screenAnatomy(picture, true);
    ASSERT_TRUE(anatomy && anatomy->mask);
    const QRectF screen = anatomy->screenRect;
    EXPECT_NEAR(screen.width() / screen.height(), 16.0 / 9, 0.05);
    const auto placeholder = placeholderDeviceImage(2, screen.size());
    const QImage filled = anatomy->filled(placeholder);
    test::writeScreenshot(filled, "ScreenAnatomy-allInOne");
    const QColor edge = filled.pixelColor(int(screen.left()) + 3, int(screen.center().y()));
    EXPECT_GT(edge.red(), 200) << "the placeholder's orange, converted from Display P3";
    EXPECT_LT(edge.blue(), 120);
}

} // namespace
} // namespace velm
