#pragma once

#include <QImage>
#include <QRectF>
#include <optional>

namespace velm {

// A device picture prepared to show something else on its screen.
struct ScreenAnatomy {
    // The picture trimmed to its opaque part, turned to landscape when its screen stood upright;
    // premultiplied RGBA in sRGB.
    QImage picture;
    // An 8-bit grey image as large as `picture`: how much each pixel belongs to the screen. Absent
    // when no screen was found.
    std::optional<QImage> mask;
    // The screen's bounding box in `picture` (pixels, y downwards); empty without a mask.
    QRectF screenRect;

    // `picture` with its screen painted black and `fill` fitted inside it, centred; `picture`
    // itself when there is no screen or nothing (or an empty image) to fill it with.
    QImage filled(const std::optional<QImage>& fill) const;
};

// Finds the screen in a device picture: the blue screen most pictures show or, with `floodFill`,
// a screen of uniform colour around the point three tenths down the middle. Nothing when the
// picture is empty, larger than 4096 pixels on a side, or transparent throughout.
std::optional<ScreenAnatomy> screenAnatomy(const QImage& image, bool floodFill);

} // namespace velm
