#include "Velm_Host/ui/ScreenMask.h"

#include <algorithm>
#include <cstdlib>

namespace velm {
namespace {

// Only fully opaque pixels can be screen: edges blended with the background are not.
constexpr std::uint8_t screenAlpha = 251;
constexpr int fillTolerance = 9;

ScreenMask emptyMask(const RGBABuffer& buffer) {
    return ScreenMask{buffer.width, buffer.height, std::vector<std::uint8_t>(buffer.pixelCount(), 0), 0};
}

std::uint8_t blueLevel(const std::uint8_t* pixel) {
    const int red = pixel[0];
    const int green = pixel[1];
    const int blue = pixel[2];
    if (pixel[3] < screenAlpha || !(red < green && green < blue)) {
        return 0;
    }
    const int rise = blue - red;
    if (rise < 11) {
        return 0;
    }
    return static_cast<std::uint8_t>(std::min((rise - 10) * 255 / 125, 255));
}

bool isNear(const std::uint8_t* pixel, const std::uint8_t* reference) {
    return pixel[3] >= screenAlpha && std::abs(pixel[0] - reference[0]) <= fillTolerance &&
           std::abs(pixel[1] - reference[1]) <= fillTolerance &&
           std::abs(pixel[2] - reference[2]) <= fillTolerance;
}

} // namespace

ScreenMask ScreenMask::blue(const RGBABuffer& buffer) {
    if (!buffer.isValid()) {
        return {};
    }
    ScreenMask mask = emptyMask(buffer);
    for (std::size_t i = 0; i < mask.values.size(); ++i) {
        const std::uint8_t level = blueLevel(&buffer.bytes[i * RGBABuffer::bytesPerPixel]);
        mask.values[i] = level;
        mask.count += level >= screenLevel ? 1 : 0;
    }
    return mask;
}

ScreenMask ScreenMask::floodFill(const RGBABuffer& buffer) {
    if (!buffer.isValid()) {
        return {};
    }
    ScreenMask mask = emptyMask(buffer);
    const std::int64_t width = buffer.width;
    const std::int64_t height = buffer.height;
    const auto seed = static_cast<std::size_t>(3 * height / 10 * width + width / 2);
    const std::uint8_t* reference = &buffer.bytes[seed * RGBABuffer::bytesPerPixel];

    std::vector<std::size_t> stack;
    const auto visit = [&](std::size_t index) {
        if (mask.values[index] != 0 || !isNear(&buffer.bytes[index * RGBABuffer::bytesPerPixel], reference)) {
            return;
        }
        mask.values[index] = 255;
        ++mask.count;
        stack.push_back(index);
    };
    visit(seed);
    while (!stack.empty()) {
        const std::size_t index = stack.back();
        stack.pop_back();
        const auto x = static_cast<std::int64_t>(index) % width;
        const auto y = static_cast<std::int64_t>(index) / width;
        if (x > 0)
            visit(index - 1);
        if (x < width - 1)
            visit(index + 1);
        if (y > 0)
            visit(index - static_cast<std::size_t>(width));
        if (y < height - 1)
            visit(index + static_cast<std::size_t>(width));
    }
    return mask;
}

std::optional<PixelBox> ScreenMask::acceptedBox() const {
    const auto box = PixelBox::around(width, height, [&](std::int64_t x, std::int64_t y) {
        return values[static_cast<std::size_t>(y * width + x)] >= screenLevel;
    });
    if (!box || box->left >= box->right || box->top >= box->bottom) {
        return std::nullopt;
    }
    const std::int64_t area = box->width() * box->height();
    const std::int64_t pictureArea = width * height;
    const auto screenPixels = static_cast<std::int64_t>(count);
    if (pictureArea >= 5 * area || 9 * area >= 10 * screenPixels) {
        return std::nullopt;
    }
    return box;
}

} // namespace velm
