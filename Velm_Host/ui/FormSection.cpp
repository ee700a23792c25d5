#include "Velm_Host/ui/FormSection.h"

#include "Velm_Host/ui/PlainLabel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLayoutItem>
#include <QPainter>
#include <QVBoxLayout>

namespace velm {

class FormSection::Card : public QWidget {
public:
    explicit Card(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Mid), 1));
        painter.setBrush(palette().base());
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

FormSection::FormSection(std::string_view title, QWidget* parent)
    : QWidget(parent), header_(new QHBoxLayout), card_(new Card(this)), rows_(new QVBoxLayout(card_)),
      footer_(new PlainLabel({}, this)) {
    auto* heading = new PlainLabel(title, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    header_->setContentsMargins(4, 4, 4, 0);
    header_->addWidget(heading);
    header_->addStretch(1);

    rows_->setContentsMargins(12, 8, 12, 8);
    rows_->setSpacing(8);
    card_->hide();
    footer_->makeCaption();
    footer_->setWordWrap(true);
    footer_->setContentsMargins(4, 0, 4, 0);
    footer_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(header_);
    layout->addWidget(card_);
    layout->addWidget(footer_);
}

void FormSection::addHeaderControl(QWidget* control) {
    header_->addWidget(control);
}

void FormSection::addRow(QWidget* row) {
    if (rowCount_ > 0) {
        auto* line = new QFrame(card_);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        line->setForegroundRole(QPalette::Midlight);
        rows_->addWidget(line);
    }
    row->setParent(card_);
    rows_->addWidget(row);
    ++rowCount_;
    showDividers();
}

void FormSection::clearRows() {
    while (QLayoutItem* item = rows_->takeAt(0)) {
        // A row may be clearing the section from its own button's click: it goes once that is over,
        // and leaves the section at once.
        if (QWidget* widget = item->widget()) {
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    rowCount_ = 0;
    card_->hide();
}

void FormSection::setRowShown(QWidget* row, bool shown) {
    row->setHidden(!shown);
    showDividers();
}

// Rows and hairlines alternate in the card's layout; a hairline shows only between two shown rows.
void FormSection::showDividers() {
    QWidget* pendingDivider = nullptr;
    bool anyShown = false;
    for (int index = 0; index < rows_->count(); ++index) {
        QWidget* widget = rows_->itemAt(index)->widget();
        if (index % 2 == 1) {
            widget->hide();
            pendingDivider = widget;
        } else if (!widget->isHidden()) {
            if (pendingDivider && anyShown) {
                pendingDivider->show();
            }
            anyShown = true;
        }
    }
    card_->setVisible(anyShown);
}

void FormSection::setFooter(std::string_view text) {
    footer_->setText(text);
    footer_->setVisible(!text.empty());
}

} // namespace velm
