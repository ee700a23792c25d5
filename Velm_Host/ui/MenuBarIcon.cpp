#include "Velm_Host/ui/MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace velm {
namespace {

constexpr std::array<int, 6> sides{16, 22, 24, 32, 48, 64};
const QColor line(0xF2, 0xF2, 0xF2);
const QColor rim(0, 0, 0, 150);
const QColor arrow(0x34, 0xC7, 0x59);

// The display and its stand in a square of side 1.
QPainterPath display() {
    QPainterPath path;
    path.addRoundedRect(QRectF(0.08, 0.14, 0.84, 0.56), 0.06, 0.06);
    path.moveTo(0.5, 0.70);
    path.lineTo(0.5, 0.84);
    path.moveTo(0.32, 0.86);
    path.lineTo(0.68, 0.86);
    return path;
}

QPainterPath arrowDown() {
    QPainterPath path;
    path.moveTo(0.5, 0.22);
    path.lineTo(0.5, 0.58);
    path.moveTo(0.36, 0.45);
    path.lineTo(0.5, 0.59);
    path.lineTo(0.64, 0.45);
    return path;
}

void stroke(QPainter& painter, const QPainterPath& path, const QColor& colour, double width, int side) {
    QPen pen(colour, width / side);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.strokePath(path, pen);
}

} // namespace

QIcon MenuBarIcon::icon(bool connected) {
    QIcon icon;
    for (const int side : sides) {
        icon.addPixmap(QPixmap::fromImage(image(connected, side)));
    }
    return icon;
}

QImage MenuBarIcon::image(bool connected, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side, side);
    const double width = std::max(1.5, side / 12.0);
    stroke(painter, display(), rim, width + 2, side);
    stroke(painter, display(), line, width, side);
    if (connected) {
        stroke(painter, arrowDown(), rim, width + 2, side);
        stroke(painter, arrowDown(), arrow, width, side);
    }
    return image;
}

} // namespace velm
