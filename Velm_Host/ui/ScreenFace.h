#pragma once

#include <QImage>
#include <QRectF>
#include <optional>

class QPainter;

namespace velm {

// The screen of a drawn device: its snapshot letterboxed on black or, without one, a colourful
// field; always under a faint glare from the top-left corner.
struct ScreenFace {
    std::optional<QImage> snapshot;
    // Corner radius, in the painter's units.
    qreal radius = 0;

    // Paints the screen into `area`; nothing for an empty or non-finite area.
    void paint(QPainter& painter, const QRectF& area) const;
};

} // namespace velm
