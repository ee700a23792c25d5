#pragma once

#include "Velm_Host/ui/PixelBox.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velm {

// A picture as plain bytes: rows from top to bottom, each pixel red, green, blue and alpha, the
// colour premultiplied by alpha. Pictures come from themes, users and other devices, so no side may
// exceed `maxSide`: that bounds every buffer made from one to 64 MiB.
struct RGBABuffer {
    static constexpr std::int64_t maxSide = 4096;
    static constexpr std::size_t bytesPerPixel = 4;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::uint8_t> bytes;

    // A transparent buffer; nothing when a side is below 1 or above `maxSide`.
    static std::optional<RGBABuffer> zeroed(std::int64_t width, std::int64_t height);

    // True when both sides lie within 1...maxSide and the bytes hold exactly that many pixels.
    bool isValid() const;

    std::size_t pixelCount() const { return static_cast<std::size_t>(width * height); }

    // The offset of the pixel's red byte.
    std::size_t offset(std::int64_t x, std::int64_t y) const {
        return static_cast<std::size_t>(y * width + x) * bytesPerPixel;
    }

    // The smallest box holding every pixel whose alpha is above one half (129 and up); nothing
    // when the picture is transparent throughout.
    std::optional<PixelBox> opaqueBounds() const;

    // The pixels inside `box`, which must lie within the buffer.
    RGBABuffer cropped(const PixelBox& box) const;

    // The picture turned a quarter counter-clockwise: column x, row y goes to column y, row
    // width − 1 − x.
    RGBABuffer turnedCounterClockwise() const;
};

} // namespace velm
