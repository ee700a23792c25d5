#include "platform/image/Jpeg.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velm {
namespace {

// Left half red, right half blue, in the given byte order.
Image halves(int width, int height, Image::Format format) {
    Image image{width, height, format, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            const std::uint8_t red = left ? 255 : 0;
            const std::uint8_t blue = left ? 0 : 255;
            if (format == Image::Format::rgba) {
                image.pixels.insert(image.pixels.end(), {red, 0, blue, 255});
            } else {
                image.pixels.insert(image.pixels.end(), {blue, 0, red, 0});
            }
        }
    }
    return image;
}

bool near(std::uint8_t value, int expected) {
    return std::abs(int(value) - expected) <= 24;
}

TEST(Jpeg, EncodesEitherByteOrderAndDecodesToRgba) {
    for (const auto format : {Image::Format::rgba, Image::Format::bgrx}) {
        const auto encoded = Jpeg::encode(halves(64, 32, format), 90);
        ASSERT_TRUE(encoded);
        const auto decoded = Jpeg::decode(*encoded);
        ASSERT_TRUE(decoded);
        ASSERT_TRUE(decoded->isValid());
        EXPECT_EQ(std::pair(decoded->width, decoded->height), std::pair(64, 32));
        const auto pixel = [&](int x, int y) { return &decoded->pixels[std::size_t(y * 64 + x) * 4]; };
        EXPECT_TRUE(near(pixel(8, 16)[0], 255) && near(pixel(8, 16)[2], 0));
        EXPECT_TRUE(near(pixel(56, 16)[0], 0) && near(pixel(56, 16)[2], 255));
    }
}

TEST(Jpeg, RefusesInvalidImagesDamagedDataAndPicturesBeyondTheLimit) {
    EXPECT_FALSE(Jpeg::encode(Image{}, 80));
    Image wrongSize = halves(8, 8, Image::Format::rgba);
    wrongSize.pixels.pop_back();
    EXPECT_FALSE(Jpeg::encode(wrongSize, 80));

    const auto encoded = Jpeg::encode(halves(64, 64, Image::Format::rgba), 80);
    ASSERT_TRUE(encoded);
    EXPECT_FALSE(Jpeg::decode({}));
    EXPECT_FALSE(Jpeg::decode(Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x01, 0x02}));
    EXPECT_FALSE(Jpeg::decode(ByteView(*encoded).first(encoded->size() / 2)));
    EXPECT_FALSE(Jpeg::decode(*encoded, 64 * 64 - 1));
    EXPECT_TRUE(Jpeg::decode(*encoded, 64 * 64));
}

} // namespace
} // namespace velm
