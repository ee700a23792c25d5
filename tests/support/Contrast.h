#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>

namespace velm::test {

// The contrast of two opaque colours as the web's accessibility guidelines define it (relative
// luminance of linear sRGB), worked out here on its own so that the views' choice of colours is
// checked against the rule and not against itself.
inline double wcagContrast(const QColor& one, const QColor& other) {
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The pixel of `area` that stands out most from `background`: in a picture of a text, the colour of
// its glyphs where they are solid.
inline QColor strongestInk(const QImage& picture, const QRect& area, const QColor& background) {
    QColor strongest = background;
    double best = 1;
    const QRect inside = area.intersected(picture.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (const double contrast = wcagContrast(pixel, background); contrast > best) {
                best = contrast;
                strongest = pixel;
            }
        }
    }
    return strongest;
}

} // namespace velm::test
