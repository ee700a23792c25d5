#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <functional>

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
    // The same for a picture drawn into `target`: its alpha is the shape.
    void paint(QPainter& painter, const QImage& picture, const QRectF& target) const;

private:
    // Blurs what `coverage` paints (in device pixels, translated to the shadow's area, which holds
    // `bounds`) and paints it in the shadow's colour, moved down.
    void cast(QPainter& painter, const QRectF& bounds, const std::function<void(QPainter&)>& coverage) const;
};

} // namespace velm
