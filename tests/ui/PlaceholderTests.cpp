#include "Velm_Host/ui/PlaceholderImage.h"
#include "tests/support/Colours.h"
#include "tests/support/Screenshots.h"

#include <QColorSpace>
#include <gtest/gtest.h>

namespace velm {
namespace {

using test::near;

bool near(const QColor& c, const PlaceholderColour& expected, int tolerance = 6) {
    return near(c, expected.red, expected.green, expected.blue, tolerance);
}

TEST(Placeholder, PaintsTheIndexedPairCornerToCornerInDisplayP3) {
    for (const int index : {0, 3, 7}) {
        SCOPED_TRACE(index);
        const auto image = placeholderDeviceImage(index, {240, 160});
        ASSERT_TRUE(image);
        test::writeScreenshot(*image, "Placeholder-" + std::to_string(index));
        EXPECT_EQ(image->size(), QSize(240, 160));
        EXPECT_EQ(image->colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        const auto& pair = placeholderPalette()[static_cast<std::size_t>(index)];
        EXPECT_TRUE(near(image->pixelColor(0, 0), pair[0]));
        EXPECT_TRUE(near(image->pixelColor(239, 159), pair[1]));
    }
}

TEST(Placeholder, IsTheSameForTheSameIndexAndWrapsEveryEight) {
    const QSizeF size(120, 90);
    EXPECT_EQ(*placeholderDeviceImage(5, size), *placeholderDeviceImage(5, size));
    EXPECT_EQ(*placeholderDeviceImage(-1, size), *placeholderDeviceImage(7, size));
    EXPECT_EQ(*placeholderDeviceImage(9, size), *placeholderDeviceImage(1, size));
    EXPECT_NE(*placeholderDeviceImage(1, size), *placeholderDeviceImage(2, size));
}

TEST(Placeholder, DrawsAWhiteScreenOutlineInTheMiddle) {
    // m = 200: the outline is 68 wide with a line of 5.78, so its left side covers x = 116...121.8.
    const auto image = placeholderDeviceImage(6, {300, 200});
    ASSERT_TRUE(image);
    const QColor line = image->pixelColor(119, 100);
    EXPECT_GT(std::min({line.red(), line.green(), line.blue()}), 200);
    EXPECT_TRUE(near(image->pixelColor(150, 100), 0.23F, 0.2F, 0.47F, 20)) << "the gradient shows inside";
}

TEST(Placeholder, RoundsSizesAndRefusesUnusableOnes) {
    EXPECT_FALSE(placeholderDeviceImage(0, {0.4, 200}));
    EXPECT_EQ(placeholderDeviceImage(0, {0.5, 200})->size(), QSize(1, 200));
    EXPECT_EQ(placeholderDeviceImage(0, {10.5, 2.49})->size(), QSize(11, 2));
    EXPECT_FALSE(placeholderDeviceImage(0, {-3, 20}));
    EXPECT_FALSE(placeholderDeviceImage(0, {NAN, 20}));
    EXPECT_FALSE(placeholderDeviceImage(0, {20, INFINITY}));
    EXPECT_FALSE(placeholderDeviceImage(0, {1e12, 20}));
}

} // namespace
} // namespace velm
