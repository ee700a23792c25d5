#include "platform/dispatch/ManualQueue.h"
#include "platform/image/Jpeg.h"
#include "platform/x11/Glimpse.h"
#include "platform/x11/X11CursorMonitor.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/support/Blocking.h"
#include "tests/support/FakeScreenList.h"
#include "tests/support/X11DesktopTest.h"
#include "tests/x11/Screenshot.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// Cursor font shapes (X11/cursorfont.h), named here to keep Xlib's macros out of the tests.
constexpr unsigned int crosshairShape = 34;
constexpr unsigned int watchShape = 150;

class DesktopPictureTest : public test::X11DesktopTest {
protected:
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
};

// The pixel at (x, y) of an rgba picture as 0xRRGGBB.
std::uint32_t rgbAt(const Image& image, int x, int y) {
    const std::uint8_t* pixel =
        &image.pixels[(std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 4];
    return std::uint32_t(pixel[0]) << 16 | std::uint32_t(pixel[1]) << 8 | pixel[2];
}

bool near(std::uint32_t rgb, std::uint32_t expected) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int(rgb >> shift & 0xFF) - int(expected >> shift & 0xFF)) > 40) {
            return false;
        }
    }
    return true;
}

TEST_F(DesktopPictureTest, ReadsARectangleCutToTheScreen) {
    desktop->fill({0, 0, 1920, 1080}, 0x000000);
    desktop->fill({10, 20, 30, 40}, 0x3366CC);
    X11ScreenCapture capture;
    EXPECT_TRUE(capture.usesSharedMemory());
    const auto image = capture.capture({0, 0, 64, 64});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->format, Image::Format::bgrx);
    ASSERT_TRUE(image->isValid());
    EXPECT_EQ(rgbAt(*image, 20, 30), 0xCC6633u) << "blue, green, red in memory";

    const auto cut = capture.capture({1900, 1070, 100, 100});
    ASSERT_TRUE(cut);
    EXPECT_EQ(std::pair(cut->width, cut->height), std::pair(20, 10));
    EXPECT_FALSE(capture.capture({2000, 0, 10, 10}));
}

TEST_F(DesktopPictureTest, GlimpseShowsWhatIsDrawnOnTheMainScreen) {
    desktop->fill({0, 0, 1920, 1080}, 0x202020);
    desktop->fill({480, 270, 960, 540}, 0xE02020);
    const auto screens = X11ScreenList::make(queue);
    X11ScreenCapture capture;
    const auto jpeg = Glimpse::take(*screens, capture, 400'000);
    ASSERT_TRUE(jpeg);
    const auto picture = Jpeg::decode(*jpeg);
    ASSERT_TRUE(picture);
    test::saveScreenshot(*picture, "glimpse");
    ASSERT_EQ(std::pair(picture->width, picture->height), std::pair(1920, 1080));
    EXPECT_TRUE(near(rgbAt(*picture, 960, 540), 0xE02020));
    EXPECT_TRUE(near(rgbAt(*picture, 100, 100), 0x202020));
    EXPECT_TRUE(near(rgbAt(*picture, 1800, 1000), 0x202020));
}

TEST_F(DesktopPictureTest, SeesTheCursorChange) {
    desktop->movePointer(700, 500);
    desktop->setRootCursor(crosshairShape);
    const auto monitor = X11CursorMonitor::make(queue);
    const auto first = monitor->current();
    ASSERT_TRUE(first);
    std::vector<CursorImage> changes;
    monitor->setOnChange([&](CursorImage image) { changes.push_back(std::move(image)); });
    monitor->startWatching();
    queue->runUntilIdle();

    desktop->setRootCursor(watchShape);
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return !changes.empty();
    }));
    const CursorImage& watch = changes.back();
    EXPECT_NE(watch.serial, first->serial);
    ASSERT_TRUE(watch.image.isValid());
    EXPECT_EQ(watch.image.format, Image::Format::rgba);
    EXPECT_LT(watch.hotSpotX, watch.image.width);
    EXPECT_LT(watch.hotSpotY, watch.image.height);
    EXPECT_EQ(monitor->current()->serial, watch.serial);
    test::saveScreenshot(watch.image, "cursor-watch");
}

// Wider than the monitor keeps: the left half opaque red, the right half a fine checkerboard of opaque blue
// and nothing, so that every scaled pixel there mixes both.
Image redAndCheckeredBlue(int width, int height) {
    Image image{width, height, Image::Format::rgba, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < width / 2) {
                image.pixels.insert(image.pixels.end(), {255, 0, 0, 255});
            } else if ((x + y) % 2 == 0) {
                image.pixels.insert(image.pixels.end(), {0, 0, 255, 255});
            } else {
                image.pixels.insert(image.pixels.end(), {0, 0, 0, 0});
            }
        }
    }
    return image;
}

TEST_F(DesktopPictureTest, ScalesAPointerTooLargeToKeepAndKeepsItsShownSize) {
    desktop->movePointer(700, 500);
    desktop->setRootCursor(redAndCheckeredBlue(600, 300), 450, 240);
    const auto big = X11CursorMonitor::make(queue)->current();
    ASSERT_TRUE(big && big->image.isValid());
    EXPECT_EQ(std::tuple(big->image.width, big->image.height, big->shownWidth, big->shownHeight),
              std::tuple(X11CursorMonitor::maxSide, X11CursorMonitor::maxSide / 2, 600, 300));
    EXPECT_EQ(std::pair(big->shownHotSpotX, big->shownHotSpotY), std::pair(450, 240));
    EXPECT_EQ(std::pair(big->hotSpotX, big->hotSpotY), std::pair(192, 102)) << "the same place, scaled";
    test::saveScreenshot(big->image, "cursor-scaled");

    EXPECT_EQ(rgbAt(big->image, 60, 60), 0xFF0000u);
    EXPECT_EQ(rgbAt(big->image, 200, 60), 0x0000FFu) << "what is see-through lends no colour";
    EXPECT_NEAR(big->image.pixels[(60 * 256 + 200) * 4 + 3], 128, 20);
}

// A picture of noise, which JPEG cannot make small.
Image noise(int width, int height) {
    Image image{width, height, Image::Format::bgrx, {}};
    std::uint32_t state = 12345;
    image.pixels.resize(std::size_t(width) * std::size_t(height) * 4);
    for (auto& byte : image.pixels) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return image;
}

TEST(Glimpse, StepsDownUntilThePictureFitsAndGivesNothingWhenNothingDoes) {
    const Image image = noise(320, 200);
    const auto whole = Glimpse::encode(image, 10'000'000);
    ASSERT_TRUE(whole);
    EXPECT_EQ(Jpeg::decode(*whole)->width, 320);

    const auto smaller = Glimpse::encode(image, whole->size() / 4);
    ASSERT_TRUE(smaller);
    EXPECT_LE(smaller->size(), whole->size() / 4);
    const auto decoded = Jpeg::decode(*smaller);
    ASSERT_TRUE(decoded);
    EXPECT_LT(decoded->width, 320);
    EXPECT_EQ(decoded->width * 200, decoded->height * 320) << "the aspect is kept";

    EXPECT_FALSE(Glimpse::encode(image, 100));
    EXPECT_FALSE(Glimpse::encode(Image{}, 10'000'000));
}

// A desktop white on its left half and black on its right, which hands out no more pixels at once than
// a glimpse may hold, and counts the rows it gave.
class HalfWhiteScreen final : public ScreenCapture {
public:
    explicit HalfWhiteScreen(ScreenRect whole) : whole_(whole) {}

    std::optional<Image> capture(const ScreenRect& rect) override {
        const std::size_t pixels = std::size_t(rect.width) * std::size_t(rect.height);
        largestRead = std::max(largestRead, pixels);
        if (pixels > Glimpse::maxReadPixels) {
            return std::nullopt;
        }
        Bytes row;
        for (int x = rect.x; x < rect.x + rect.width; ++x) {
            const std::uint8_t value = x < whole_.x + whole_.width / 2 ? 255 : 0;
            row.insert(row.end(), {value, value, value, 0});
        }
        Image image{rect.width, rect.height, Image::Format::bgrx, {}};
        image.pixels.reserve(pixels * Image::bytesPerPixel);
        for (int y = 0; y < rect.height; ++y) {
            image.pixels.insert(image.pixels.end(), row.begin(), row.end());
        }
        rowsRead += rect.height;
        return image;
    }

    std::size_t largestRead = 0;
    int rowsRead = 0;

private:
    const ScreenRect whole_;
};

TEST(Glimpse, ReadsAScreenTooLargeToHoldAtOnceInBandsAndShowsItWhole) {
    const ScreenRect frame{0, 0, 8192, 4352};
    test::FakeScreenList screens(nullptr);
    screens.change(
        {Monitor{.id = 1, .name = "wall", .frame = frame, .isMain = true, .vendor = {}, .refreshRate = {}}});
    HalfWhiteScreen capture(frame);

    const auto jpeg = Glimpse::take(screens, capture, 3'000'000);
    EXPECT_LE(capture.largestRead, Glimpse::maxReadPixels);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(capture.rowsRead, frame.height);
    const auto decoded = Jpeg::decode(*jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width * frame.height, decoded->height * frame.width) << "the aspect is kept";
    EXPECT_TRUE(near(rgbAt(*decoded, decoded->width / 4, decoded->height / 2), 0xFFFFFF));
    EXPECT_TRUE(near(rgbAt(*decoded, decoded->width * 3 / 4, decoded->height / 2), 0x000000));
}

TEST(Glimpse, ShrinkingAveragesThePixelsCovered) {
    Image image{4, 2, Image::Format::rgba, {}};
    for (int pixel = 0; pixel < 8; ++pixel) {
        const std::uint8_t value = pixel % 2 == 0 ? 0 : 200;
        image.pixels.insert(image.pixels.end(), {value, value, value, 255});
    }
    const Image half = Glimpse::shrunk(image, 2, 1);
    ASSERT_TRUE(half.isValid());
    EXPECT_EQ(half.pixels, (Bytes{100, 100, 100, 255, 100, 100, 100, 255}));
}

} // namespace
} // namespace velm
