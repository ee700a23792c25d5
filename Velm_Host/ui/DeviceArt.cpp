#include "Velm_Host/ui/DeviceArt.h"

#include "Velm_Host/ui/DeviceParts.h"
#include "Velm_Host/ui/DropShadow.h"
#include "Velm_Host/ui/ScreenFace.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace velm {
namespace {

QColor grey(double level, double opacity = 1) {
    return QColor::fromRgbF(static_cast<float>(level), static_cast<float>(level), static_cast<float>(level),
                            static_cast<float>(opacity));
}

// A gradient from `top` at the rectangle's top edge to `bottom` at its bottom edge.
QLinearGradient downwards(const QRectF& area, double top, double bottom) {
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0, grey(top));
    gradient.setColorAt(1, grey(bottom));
    return gradient;
}

QLinearGradient aluminium(const QRectF& area) {
    return downwards(area, 0.88, 0.72);
}
QLinearGradient rim(const QRectF& area) {
    return downwards(area, 0.62, 0.38);
}
QLinearGradient neckShade(const QRectF& area) {
    return downwards(area, 0.55, 0.8);
}
const QColor bezel = grey(0.035);

// The largest radius a corner of the area can take; none for an area that a line stroked inside
// it has turned inside out (parts drawn only a few points wide).
double cornerLimit(const QRectF& area) {
    return std::max(std::min(area.width(), area.height()) / 2, 0.0);
}

QPainterPath rounded(const QRectF& area, double radius) {
    const double r = std::clamp(radius, 0.0, cornerLimit(area));
    QPainterPath path;
    path.addRoundedRect(area, r, r);
    return path;
}

// A rectangle whose two top corners have one radius and whose two bottom corners another.
QPainterPath unevenlyRounded(const QRectF& area, double topRadius, double bottomRadius) {
    const double limit = cornerLimit(area);
    const double t = std::clamp(topRadius, 0.0, limit);
    const double b = std::clamp(bottomRadius, 0.0, limit);
    QPainterPath path;
    path.moveTo(area.left() + t, area.top());
    path.lineTo(area.right() - t, area.top());
    path.arcTo(QRectF(area.right() - 2 * t, area.top(), 2 * t, 2 * t), 90, -90);
    path.lineTo(area.right(), area.bottom() - b);
    path.arcTo(QRectF(area.right() - 2 * b, area.bottom() - 2 * b, 2 * b, 2 * b), 0, -90);
    path.lineTo(area.left() + b, area.bottom());
    path.arcTo(QRectF(area.left(), area.bottom() - 2 * b, 2 * b, 2 * b), 270, -90);
    path.lineTo(area.left(), area.top() + t);
    path.arcTo(QRectF(area.left(), area.top(), 2 * t, 2 * t), 180, -90);
    path.closeSubpath();
    return path;
}

// A line of the given width drawn just inside a rounded rectangle's edge.
void strokeInside(QPainter& painter, const QRectF& area, double radius, double width, const QBrush& brush) {
    const double half = width / 2;
    painter.setPen(QPen(brush, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(rounded(area.adjusted(half, half, -half, -half), std::max(radius - half, 0.0)));
    painter.setPen(Qt::NoPen);
}

// How the screen block of each family of shapes is finished: its rim (a fraction of the screen
// width, but never thinner than a minimum in points) and the shadow it casts (fractions).
struct BlockFinish {
    double rimWidth;
    double rimMinimum;
    double shadowOpacity;
    double shadowRadius;
    double shadowDown;
};

constexpr BlockFinish panelFinish{0.003, 1, 0.25, 0.03, 0.015};
constexpr BlockFinish handheldFinish{0.005, 1.5, 0.30, 0.035, 0.02};

// Painting in units of the screen's width, placed and scaled into points.
class Drawing {
public:
    Drawing(QPainter& painter, const DeviceGeometry& geometry, const std::optional<QImage>& snapshot,
            QPointF origin, double scale)
        : painter_(painter), geometry_(geometry), parts_(DeviceParts::of(geometry)), snapshot_(snapshot),
          origin_(origin), scale_(scale) {}

    void paint() {
        switch (geometry_.shape) {
        case DeviceShape::display:
        case DeviceShape::macMini:
        case DeviceShape::macStudio:
        case DeviceShape::macPro:
            paintStandMounted();
            break;
        case DeviceShape::macBook:
            paintLaptop();
            break;
        case DeviceShape::iMac:
            paintAllInOne();
            break;
        case DeviceShape::iPad:
        case DeviceShape::iPadPro:
        case DeviceShape::iPadHomeButton:
        case DeviceShape::iPhone:
            paintBlock(handheldFinish);
            break;
        }
    }

private:
    QRectF map(const QRectF& units) const {
        return {origin_.x() + units.x() * scale_, origin_.y() + units.y() * scale_, units.width() * scale_,
                units.height() * scale_};
    }
    double length(double units) const { return units * scale_; }

    void castShadow(const QPainterPath& shape, double opacity, double radius, double down) {
        DropShadow{grey(0, opacity), length(radius), length(down)}.paint(painter_, shape);
    }

    void paintFace(double radius) {
        ScreenFace{snapshot_, length(radius)}.paint(painter_, map(parts_.screen));
    }

    void paintStand() {
        const QRectF neck = map(*parts_.neck);
        painter_.fillRect(neck, neckShade(neck));
        const QRectF foot = map(*parts_.foot);
        painter_.fillPath(rounded(foot, foot.height() / 2), aluminium(foot));
    }

    // An aluminium part with a thin dark edge, standing on the surface.
    void paintCasing(const QRectF& units, double radius) {
        const QRectF area = map(units);
        const QPainterPath outline = rounded(area, length(radius));
        castShadow(outline, 0.30, 0.015, 0.008);
        painter_.fillPath(outline, aluminium(area));
        strokeInside(painter_, area, length(radius), 1, grey(0, 0.15));
    }

    void paintBlock(const BlockFinish& finish) {
        const QRectF block = map(parts_.block);
        const double radius = length(parts_.blockRadius);
        const QPainterPath outline = rounded(block, radius);
        castShadow(outline, finish.shadowOpacity, finish.shadowRadius, finish.shadowDown);
        painter_.fillPath(outline, bezel);
        paintFace(parts_.screenRadius);
        strokeInside(painter_, block, radius, std::max(length(finish.rimWidth), finish.rimMinimum),
                     rim(block));
        if (parts_.homeButton) {
            const QRectF button = map(*parts_.homeButton);
            const double line = std::max(length(0.003), 1.0);
            strokeInside(painter_, button, button.width() / 2, line, grey(0.35));
        }
        if (parts_.camera) {
            const QRectF camera = map(*parts_.camera);
            painter_.setBrush(grey(0.16));
            painter_.drawEllipse(camera);
        }
    }

    void paintStandMounted() {
        paintStand();
        paintBlock(panelFinish);
        if (parts_.desktopBox) {
            paintCasing(*parts_.desktopBox, parts_.desktopBoxRadius);
        }
        if (parts_.tower) {
            paintCasing(*parts_.tower, 0.02);
            painter_.setBrush(grey(0, 0.28));
            for (const QRectF& hole : parts_.towerHoles) {
                painter_.drawEllipse(map(hole));
            }
        }
    }

    void paintLaptop() {
        const QRectF base = map(*parts_.laptopBase);
        const QPainterPath baseOutline = unevenlyRounded(base, length(0.004), length(0.024));
        castShadow(baseOutline, 0.30, 0.025, 0.015);
        painter_.fillPath(baseOutline, aluminium(base));
        painter_.fillPath(unevenlyRounded(map(*parts_.lidNotch), 0, length(0.008)), grey(0, 0.22));
        paintBlock(panelFinish);
    }

    void paintAllInOne() {
        paintStand();
        const QRectF head = map(parts_.block);
        const double radius = length(parts_.blockRadius);
        const QPainterPath outline = rounded(head, radius);
        castShadow(outline, 0.25, 0.03, 0.015);
        painter_.save();
        painter_.setClipPath(outline, Qt::IntersectClip);
        painter_.fillRect(head, grey(0.93));
        paintFace(parts_.screenRadius);
        const QRectF chin = map(*parts_.chin);
        painter_.fillRect(chin, aluminium(chin));
        painter_.restore();
        strokeInside(painter_, head, radius, 1, grey(0, 0.18));
    }

    QPainter& painter_;
    const DeviceGeometry& geometry_;
    DeviceParts parts_;
    const std::optional<QImage>& snapshot_;
    QPointF origin_;
    double scale_;
};

bool isFinite(const QRectF& area) {
    return std::isfinite(area.x()) && std::isfinite(area.y()) && std::isfinite(area.width()) &&
           std::isfinite(area.height());
}

} // namespace

void DeviceArt::paint(QPainter& painter, const QRectF& frame) const {
    if (!geometry_ || !isFinite(frame) || frame.width() <= 0 || frame.height() <= 0) {
        return;
    }
    const double scale =
        std::min(frame.width() / geometry_->outerWidth, frame.height() / geometry_->outerHeight);
    if (!std::isfinite(scale) || scale <= 0) {
        return;
    }
    const QPointF origin =
        frame.center() - QPointF(geometry_->outerWidth * scale / 2, geometry_->outerHeight * scale / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    Drawing(painter, *geometry_, snapshot_, origin, scale).paint();
    painter.restore();
}

} // namespace velm
