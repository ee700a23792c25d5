#pragma once

#include <QImage>
#include <QPointF>
#include <array>

namespace velm {

// A colour field spanned by a 3 × 3 grid of points: the straight-edged patches between them are
// shaded with colours that blend smoothly across patch borders. Points are in unit coordinates,
// y downwards; the corner points must sit on the unit square's corners for it to be covered.
class MeshGradient {
public:
    struct Colour {
        float red = 0;
        float green = 0;
        float blue = 0;
    };
    struct Point {
        QPointF position;
        Colour colour;
    };
    // Row by row from the top, left to right.
    using Points = std::array<Point, 9>;

    explicit MeshGradient(const Points& points) : points_(points) {}

    // The field that a device's screen shows when it has no picture of its own.
    static const MeshGradient& screen();

    // The field rasterised to `size` pixels, opaque where the mesh covers it and clear elsewhere;
    // an empty image for an empty size or one larger than 4096 pixels on a side.
    QImage rendered(QSize size) const;

private:
    Points points_;
};

} // namespace velm
