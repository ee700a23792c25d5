#pragma once

#include <cstdint>

namespace velm {

// A rectangle of whole pixels, both corners included, y downwards.
struct PixelBox {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;

    std::int64_t width() const { return right - left + 1; }
    std::int64_t height() const { return bottom - top + 1; }

    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

} // namespace velm
