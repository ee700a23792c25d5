#pragma once

#include <QColor>
#include <QPainterPath>

class QPainter;

namespace velm {

// A soft shadow cast straight down by a shape, as the device pictures draw under their parts.
struct DropShadow {
    QColor colour;
    // How far the shadow spreads, and how far down it falls, in the painter's units.
    qreal radius = 0;
    qreal offsetDown = 0;

    // Paints the shadow of `shape` (in the painter's coordinates) at device resolution, under
    // whatever the caller paints next. Does nothing for an empty shape or an unusable radius.
    void paint(QPainter& painter, const QPainterPath& shape) const;
};

} // namespace velm
