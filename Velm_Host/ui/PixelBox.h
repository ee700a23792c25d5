#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace velm {

// A rectangle of whole pixels, both corners included, y downwards.
struct PixelBox {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;

    std::int64_t width() const { return right - left + 1; }
    std::int64_t height() const { return bottom - top + 1; }

    // The smallest box holding every pixel of a width × height picture for which `isIn(x, y)`
    // holds; nothing when there is none.
    template <typename Predicate>
    static std::optional<PixelBox> around(std::int64_t width, std::int64_t height, Predicate isIn) {
        std::optional<PixelBox> box;
        for (std::int64_t y = 0; y < height; ++y) {
            for (std::int64_t x = 0; x < width; ++x) {
                if (!isIn(x, y)) {
                    continue;
                }
                if (!box) {
                    box = PixelBox{x, y, x, y};
                    continue;
                }
                box->left = std::min(box->left, x);
                box->right = std::max(box->right, x);
                box->bottom = y;
            }
        }
        return box;
    }

    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

} // namespace velm
