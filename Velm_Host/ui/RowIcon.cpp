#include "Velm_Host/ui/RowIcon.h"

#include "Velm_Host/ui/Tint.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace velm {
namespace {

// Every symbol is drawn in a 16 × 16 box and scaled.
constexpr qreal symbolBox = 16;

QPen outline(const QColor& colour) {
    QPen pen(colour, 1.4);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

void drawExclamation(QPainter& painter, const QColor& colour, qreal top, qreal bottom) {
    painter.setPen(outline(colour));
    painter.drawLine(QPointF(8, top), QPointF(8, bottom - 2.6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(8, bottom), 0.9, 0.9);
}

void drawRunning(QPainter& painter, const QColor& green) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(green);
    painter.drawEllipse(QPointF(8, 8), 5.5, 5.5);
}

void drawSession(QPainter& painter, const QColor& colour) {
    painter.setPen(outline(colour));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(4.5, 2.5, 10, 7.5), 1.2, 1.2);
    painter.setBrush(painter.background());
    painter.drawRoundedRect(QRectF(1.5, 6, 10, 7.5), 1.2, 1.2);
}

void drawFile(QPainter& painter, const QColor& colour) {
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(9.5, 1.5);
    page.lineTo(12.5, 4.5);
    page.lineTo(12.5, 14.5);
    page.lineTo(3.5, 14.5);
    page.closeSubpath();
    painter.setPen(outline(colour));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(page);
    painter.drawPolyline(QPolygonF({QPointF(9.5, 1.5), QPointF(9.5, 4.5), QPointF(12.5, 4.5)}));
}

void drawRefused(QPainter& painter, const QColor& orange) {
    QPainterPath shield;
    shield.moveTo(8, 1.2);
    shield.lineTo(13.8, 3.4);
    shield.cubicTo(13.8, 9.5, 11.5, 12.8, 8, 14.8);
    shield.cubicTo(4.5, 12.8, 2.2, 9.5, 2.2, 3.4);
    shield.closeSubpath();
    painter.setPen(outline(orange));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shield);
    drawExclamation(painter, orange, 4.8, 11);
}

void drawGranted(QPainter& painter, const QColor& green) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(green);
    painter.drawEllipse(QPointF(8, 8), 7, 7);
    QPen tick = outline(Qt::white);
    tick.setWidthF(1.8);
    painter.setPen(tick);
    painter.drawPolyline(QPolygonF({QPointF(4.8, 8.2), QPointF(7, 10.4), QPointF(11.2, 5.8)}));
}

void drawAttention(QPainter& painter, const QColor& orange) {
    painter.setPen(outline(orange));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(8, 8), 6.6, 6.6);
    drawExclamation(painter, orange, 4.4, 11.4);
}

} // namespace

QPixmap rowIconPixmap(RowIcon icon, int points, qreal devicePixelRatio, const QPalette& palette) {
    const qreal ratio = std::clamp(devicePixelRatio, 1.0, 4.0);
    const int side = std::clamp(points, 1, 256);
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBackground(palette.base());
    painter.scale(side / symbolBox, side / symbolBox);
    const QColor green = tintColour(Tint::green, palette);
    const QColor orange = tintColour(Tint::orange, palette);
    const QColor secondary = tintColour(Tint::secondary, palette);
    switch (icon) {
    case RowIcon::running:
        drawRunning(painter, green);
        break;
    case RowIcon::session:
        drawSession(painter, secondary);
        break;
    case RowIcon::file:
        drawFile(painter, secondary);
        break;
    case RowIcon::refused:
        drawRefused(painter, orange);
        break;
    case RowIcon::granted:
        drawGranted(painter, green);
        break;
    case RowIcon::attention:
        drawAttention(painter, orange);
        break;
    }
    return pixmap;
}

} // namespace velm
