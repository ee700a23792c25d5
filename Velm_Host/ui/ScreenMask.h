#pragma once

#include "Velm_Host/ui/PixelBox.h"
#include "Velm_Host/ui/RGBABuffer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velm {

// How much each pixel of a device picture belongs to its screen, one byte per pixel (0 none,
// 255 wholly), and how many pixels clearly do. A buffer that is not valid gives an empty mask.
struct ScreenMask {
    // The level from which a pixel counts as screen.
    static constexpr std::uint8_t screenLevel = 201;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::uint8_t> values;
    std::size_t count = 0;

    // Most device pictures show a strongly blue screen: opaque pixels whose colour rises from
    // red through green to blue, graded by how far blue stands above red.
    static ScreenMask blue(const RGBABuffer& buffer);

    // For pictures whose screen is not blue: the opaque region of nearly the colour found at the
    // middle, three tenths down. Each pixel is tested before it is stacked and marked when it is,
    // so the stack never holds more entries than the picture has pixels.
    static ScreenMask floodFill(const RGBABuffer& buffer);

    // The screen's bounding box when the mask is plausible as a screen: at least 2 × 2 pixels,
    // covering more than a fifth of the picture and more than nine tenths full; nothing otherwise.
    std::optional<PixelBox> acceptedBox() const;
};

} // namespace velm
