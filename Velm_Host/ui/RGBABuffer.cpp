#include "Velm_Host/ui/RGBABuffer.h"

#include <cstring>

namespace velm {
namespace {

constexpr std::uint8_t opaqueAlpha = 129;

} // namespace

std::optional<RGBABuffer> RGBABuffer::zeroed(std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1 || width > maxSide || height > maxSide) {
        return std::nullopt;
    }
    RGBABuffer buffer{width, height, {}};
    buffer.bytes.assign(buffer.pixelCount() * bytesPerPixel, 0);
    return buffer;
}

bool RGBABuffer::isValid() const {
    return width >= 1 && height >= 1 && width <= maxSide && height <= maxSide &&
           bytes.size() == pixelCount() * bytesPerPixel;
}

std::optional<PixelBox> RGBABuffer::opaqueBounds() const {
    return PixelBox::around(width, height, [&](std::int64_t x, std::int64_t y) {
        return bytes[offset(x, y) + 3] >= opaqueAlpha;
    });
}

RGBABuffer RGBABuffer::cropped(const PixelBox& box) const {
    RGBABuffer result{box.width(), box.height(), {}};
    result.bytes.resize(result.pixelCount() * bytesPerPixel);
    const std::size_t rowBytes = static_cast<std::size_t>(result.width) * bytesPerPixel;
    for (std::int64_t y = 0; y < result.height; ++y) {
        std::memcpy(result.bytes.data() + result.offset(0, y), bytes.data() + offset(box.left, box.top + y),
                    rowBytes);
    }
    return result;
}

RGBABuffer RGBABuffer::turnedCounterClockwise() const {
    RGBABuffer result{height, width, {}};
    result.bytes.resize(bytes.size());
    for (std::int64_t y = 0; y < height; ++y) {
        for (std::int64_t x = 0; x < width; ++x) {
            std::memcpy(result.bytes.data() + result.offset(y, width - 1 - x), bytes.data() + offset(x, y),
                        bytesPerPixel);
        }
    }
    return result;
}

} // namespace velm
