#include "Velm_Host/ui/CardStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <cmath>

namespace velm {
namespace {

constexpr double dotSide = 7;

QColor faded(double opacity) {
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

void setForeground(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

void scaleFont(QWidget& widget, double factor, bool bold = false) {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    widget.setFont(font);
}

} // namespace

QColor CardStyle::green() {
    return {52, 199, 89};
}

QColor CardStyle::orange() {
    return {255, 149, 0};
}

void CardStyle::apply(QLabel& label, Text text) {
    switch (text) {
    case Text::headline:
        scaleFont(label, 1.0, true);
        setForeground(label, faded(1));
        break;
    case Text::caption:
    case Text::secondary:
        scaleFont(label, text == Text::caption ? 0.85 : 1.0);
        setForeground(label, faded(0.55));
        break;
    case Text::tertiary:
        scaleFont(label, 0.78);
        setForeground(label, faded(0.38));
        break;
    case Text::warning:
        scaleFont(label, 0.78);
        setForeground(label, orange());
        break;
    }
}

void CardStyle::makeSmall(QWidget& control) {
    scaleFont(control, 0.9);
}

void CardStyle::makeDestructive(QWidget& control) {
    setForeground(control, QColor(215, 0, 21));
}

QPixmap CardStyle::statusDot(bool isLive, double devicePixelRatio) {
    const int side = static_cast<int>(std::ceil(dotSide * devicePixelRatio));
    QPixmap dot(side, side);
    dot.setDevicePixelRatio(devicePixelRatio);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isLive) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(green());
        painter.drawEllipse(QRectF(0, 0, dotSide, dotSide));
    } else {
        painter.setPen(QPen(faded(0.55), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(0.5, 0.5, dotSide - 1, dotSide - 1));
    }
    return dot;
}

} // namespace velm
