#include "Velm_Host/ui/PlainLabel.h"

#include "Velm_Host/ui/PaletteFollower.h"
#include "Velm_Host/ui/Tint.h"

namespace velm {
namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

PlainLabel::PlainLabel(std::string_view text, QWidget* parent) : QLabel(parent) {
    QLabel::setTextFormat(Qt::PlainText);
    setText(text);
}

void PlainLabel::setText(std::string_view text) {
    fullText_ = fromUtf8(text);
    showText();
}

void PlainLabel::setElided(bool elided) {
    elided_ = elided;
    if (elided) {
        setWordWrap(false);
    }
    showText();
}

QSize PlainLabel::sizeHint() const {
    QSize size = QLabel::sizeHint();
    if (elided_) {
        size.setWidth(fontMetrics().horizontalAdvance(fullText_) + contentsMargins().left() +
                      contentsMargins().right());
    }
    return size;
}

QSize PlainLabel::minimumSizeHint() const {
    QSize size = QLabel::minimumSizeHint();
    if (elided_) {
        size.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("W…")));
    }
    return size;
}

void PlainLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    if (elided_) {
        showText();
    }
}

void PlainLabel::showText() {
    if (!elided_) {
        QLabel::setText(fullText_);
        return;
    }
    const QString shown = fontMetrics().elidedText(fullText_, Qt::ElideRight, contentsRect().width());
    QLabel::setText(shown);
    // A tool tip that looks like markup would be read as markup: give it as escaped rich text.
    setToolTip(shown == fullText_
                   ? QString()
                   : QStringLiteral("<qt>") + fullText_.toHtmlEscaped() + QStringLiteral("</qt>"));
}

void PlainLabel::makeCaption() {
    QFont caption = font();
    if (caption.pointSizeF() > 0) {
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        setFont(caption);
    }
    PaletteFollower::setTextColour(
        *this, [](const QPalette& colours) { return tintColour(Tint::secondary, colours); });
}

QString actionTitle(std::string_view title) {
    return fromUtf8(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace velm
