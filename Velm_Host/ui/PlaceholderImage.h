#pragma once

#include <QImage>
#include <QSizeF>
#include <array>
#include <optional>

namespace velm {

// The colourful stand-in a device card puts on a device's screen when it has no snapshot: a
// diagonal gradient of one of eight colour pairs, with a small stylised screen in the middle.
struct PlaceholderColour {
    float red = 0;
    float green = 0;
    float blue = 0;
};

// Eight pairs of colours in Display P3: the first colour at the top-left corner, the second at
// the bottom-right.
const std::array<std::array<PlaceholderColour, 2>, 8>& placeholderPalette();

// The placeholder for the device at `index` (any integer; negative ones wrap too), `size` pixels
// rounded to whole pixels. Nothing when a side rounds below 1, exceeds 4096 or is not finite.
// The image is tagged with the Display P3 colour space.
std::optional<QImage> placeholderDeviceImage(int index, QSizeF size);

} // namespace velm
