#pragma once

#include <QColor>
#include <cmath>
#include <cstdlib>

namespace velm::test {

// True when each channel of `c` lies within `tolerance` (of 255) of the colour given as fractions.
inline bool near(const QColor& c, float red, float green, float blue, int tolerance = 6) {
    return std::abs(c.red() - std::lround(red * 255)) <= tolerance &&
           std::abs(c.green() - std::lround(green * 255)) <= tolerance &&
           std::abs(c.blue() - std::lround(blue * 255)) <= tolerance;
}

} // namespace velm::test
