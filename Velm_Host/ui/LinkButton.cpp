#include "Velm_Host/ui/LinkButton.h"

#include "Velm_Host/ui/PlainLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace velm {
namespace {

constexpr double smallFont = 0.9;
// Room around the title for the focus ring and an easier aim.
constexpr int sidePadding = 4;
constexpr int endPadding = 2;

} // namespace

LinkButton::LinkButton(std::string_view title, QWidget* parent) : QPushButton(actionTitle(title), parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    QFont small = font();
    if (small.pointSizeF() > 0) {
        small.setPointSizeF(small.pointSizeF() * smallFont);
        setFont(small);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize LinkButton::sizeHint() const {
    const QSize title = fontMetrics().size(Qt::TextShowMnemonic, text());
    return {title.width() + 2 * sidePadding, title.height() + 2 * endPadding};
}

QSize LinkButton::minimumSizeHint() const {
    return sizeHint();
}

// Pressed, the link darkens as links do; with the keyboard on it, the style's focus ring shows.
void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Link);
    if (isDown()) {
        colour = colour.darker(140);
    }
    painter.setPen(colour);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

} // namespace velm
