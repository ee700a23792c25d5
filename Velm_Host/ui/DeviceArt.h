#pragma once

#include "Velm_Host/ui/DeviceGeometry.h"
#include "protocol/DeviceShape.h"

#include <QImage>
#include <QRectF>
#include <optional>
#include <utility>

class QPainter;

namespace velm {

// A device drawn from simple shapes, for when no picture of it can be had: its screen (the
// snapshot, or a colourful field) in a bezel and, by shape, a stand, a desktop box, a tower, a
// laptop base, a chin, a home button or a camera. Every length is a fixed fraction of the
// screen's width, so the drawing keeps its proportions at any size; only hairlines keep a
// minimum width, so they never vanish when drawn small.
class DeviceArt {
public:
    using Geometry = DeviceGeometry;

    DeviceArt(DeviceShape shape, double screenAspect, std::optional<QImage> snapshot)
        : geometry_(Geometry::of(shape, screenAspect)), snapshot_(std::move(snapshot)) {}

    static std::optional<Geometry> geometry(DeviceShape shape, double screenAspect) {
        return Geometry::of(shape, screenAspect);
    }

    // Paints the device as large as fits in `frame`, centred, keeping its outer proportions.
    // Nothing for an unusable aspect or a frame that is empty or not finite.
    void paint(QPainter& painter, const QRectF& frame) const;

private:
    std::optional<Geometry> geometry_;
    std::optional<QImage> snapshot_;
};

} // namespace velm
