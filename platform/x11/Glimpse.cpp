#include "platform/x11/Glimpse.h"

#include "platform/image/Jpeg.h"

#include <algorithm>
#include <array>

namespace velm::Glimpse {
namespace {

// Sizes as eighths of the screen's; qualities tried at each size, best first.
constexpr std::array<int, 6> scaleEighths = {8, 6, 4, 3, 2, 1};
constexpr std::array<int, 3> qualities = {75, 55, 35};

// The source columns (or rows) [first, last) that target index `index` of `target` covers.
std::pair<int, int> span(int index, int target, int source) {
    const auto first = static_cast<int>(static_cast<long>(index) * source / target);
    const auto last = static_cast<int>(static_cast<long>(index + 1) * source / target);
    return {first, std::max(last, first + 1)};
}

// The screen's picture in at most `maxReadPixels`: a larger screen is read a band of whole rows at a
// time, each band shrunk at once by the least whole factor that brings the picture under the bound.
std::optional<Image> read(ScreenCapture& capture, const ScreenRect& frame) {
    const auto pixels = [](std::size_t width, std::size_t height) { return width * height; };
    if (frame.width <= 0 || frame.height <= 0 || pixels(frame.width, frame.height) <= maxReadPixels) {
        return capture.capture(frame);
    }
    int factor = 2;
    while (pixels(frame.width / factor, frame.height / factor) > maxReadPixels) {
        ++factor;
    }
    const int bandRows =
        std::max<int>(1, static_cast<int>(maxReadPixels / std::size_t(frame.width)) / factor) * factor;
    const int rows = frame.height / factor * factor;
    Image picture{frame.width / factor, frame.height / factor, Image::Format::bgrx, {}};
    picture.pixels.reserve(pixels(picture.width, picture.height) * Image::bytesPerPixel);
    for (int top = 0; top < rows; top += bandRows) {
        const int height = std::min(bandRows, rows - top);
        const auto band = capture.capture({frame.x, frame.y + top, frame.width, height});
        // The screen shrank under the reading: what is left would not make one picture.
        if (!band || band->width != frame.width || band->height != height) {
            return std::nullopt;
        }
        const Image shrunkBand = shrunk(*band, picture.width, height / factor);
        picture.format = shrunkBand.format;
        picture.pixels.insert(picture.pixels.end(), shrunkBand.pixels.begin(), shrunkBand.pixels.end());
    }
    return picture;
}

} // namespace

Image shrunk(const Image& image, int width, int height) {
    width = std::clamp(width, 1, image.width);
    height = std::clamp(height, 1, image.height);
    if (width == image.width && height == image.height) {
        return image;
    }
    Image result{width, height, image.format, {}};
    result.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                         Image::bytesPerPixel);
    std::uint8_t* out = result.pixels.data();
    for (int y = 0; y < height; ++y) {
        const auto [top, bottom] = span(y, height, image.height);
        for (int x = 0; x < width; ++x) {
            const auto [left, right] = span(x, width, image.width);
            std::array<unsigned, 4> sums{};
            for (int row = top; row < bottom; ++row) {
                const std::uint8_t* in = image.pixels.data() + (static_cast<std::size_t>(row) * image.width +
                                                                static_cast<std::size_t>(left)) *
                                                                   Image::bytesPerPixel;
                for (int column = left; column < right; ++column, in += Image::bytesPerPixel) {
                    for (std::size_t channel = 0; channel < 4; ++channel) {
                        sums[channel] += in[channel];
                    }
                }
            }
            const auto count = static_cast<unsigned>((bottom - top) * (right - left));
            for (std::size_t channel = 0; channel < 4; ++channel) {
                *out++ = static_cast<std::uint8_t>(sums[channel] / count);
            }
        }
    }
    return result;
}

std::optional<Bytes> encode(const Image& image, std::size_t budget) {
    if (!image.isValid()) {
        return std::nullopt;
    }
    for (const int eighths : scaleEighths) {
        // The whole size is encoded from the screen's own pixels, without a copy.
        const Image scaled =
            eighths == 8 ? Image{} : shrunk(image, image.width * eighths / 8, image.height * eighths / 8);
        for (const int quality : qualities) {
            auto jpeg = Jpeg::encode(eighths == 8 ? image : scaled, quality);
            if (jpeg && jpeg->size() <= budget) {
                return jpeg;
            }
        }
    }
    return std::nullopt;
}

std::optional<Bytes> take(const ScreenList& screens, ScreenCapture& capture, std::size_t budget) {
    const auto monitors = screens.monitors();
    const auto main =
        std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.isMain; });
    if (main == monitors.end()) {
        return std::nullopt;
    }
    const auto image = read(capture, main->frame);
    if (!image) {
        return std::nullopt;
    }
    return encode(*image, budget);
}

} // namespace velm::Glimpse
