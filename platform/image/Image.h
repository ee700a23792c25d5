#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velm {

// Pixels in memory, four bytes each, rows packed without padding.
struct Image {
    // The byte order of one pixel. X servers hand out screens as blue, green, red, unused.
    enum class Format { rgba, bgrx };

    int width = 0;
    int height = 0;
    Format format = Format::rgba;
    std::vector<std::uint8_t> pixels;

    static constexpr std::size_t bytesPerPixel = 4;

    // True when the pixels hold exactly width × height pixels and neither side is empty.
    bool isValid() const {
        return width > 0 && height > 0 &&
               pixels.size() ==
                   static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bytesPerPixel;
    }
};

} // namespace velm
