#include "Velm_Host/ui/CardStyle.h"

#include "Velm_Host/ui/PaletteFollower.h"
#include "Velm_Host/ui/TextColours.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QWidget>
#include <cmath>

namespace velm {
namespace {

constexpr double dotSide = 7;
constexpr int smallButtonPadding = 8;

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

void CardStyle::apply(QLabel& label, Text text) {
    switch (text) {
    case Text::headline:
        scaleFont(label, 1.0, true);
        PaletteFollower::setTextColour(
            label, [](const QPalette& colours) { return colours.color(QPalette::WindowText); });
        break;
    case Text::caption:
    case Text::secondary:
        scaleFont(label, text == Text::caption ? 0.85 : 1.0);
        PaletteFollower::setTextColour(label, &TextColours::secondary);
        break;
    case Text::tertiary:
        scaleFont(label, 0.78);
        PaletteFollower::setTextColour(label, &TextColours::tertiary);
        break;
    case Text::warning:
        scaleFont(label, 0.78);
        PaletteFollower::setTextColour(label, &TextColours::warning);
        break;
    }
}

// The style would make every button at least as wide as a dialog's "Cancel"; three of those do not
// fit under a card, and squeezed, a longer title runs into the button's edges. A small button
// hugs its title (and its menu's arrow) instead.
void CardStyle::makeSmall(QPushButton& button) {
    scaleFont(button, 0.9);
    const int arrow = button.menu() != nullptr
                          ? button.style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, &button)
                          : 0;
    button.setFixedWidth(button.fontMetrics().horizontalAdvance(button.text()) + 2 * smallButtonPadding +
                         arrow);
}

void CardStyle::makeDestructive(QWidget& control) {
    PaletteFollower::setTextColour(control, &TextColours::destructive);
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
        painter.setPen(QPen(TextColours::secondary(QApplication::palette()), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(0.5, 0.5, dotSide - 1, dotSide - 1));
    }
    return dot;
}

} // namespace velm
