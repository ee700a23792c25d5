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
    : QWidget(parent), header_(new QHBoxLayout), card_(new Card(this)), rows_(new QVBoxLayout(card_)) {
    auto* heading = new PlainLabel(title, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    header_->setContentsMargins(4, 4, 4, 0);
    header_->addWidget(heading);
    header_->addStretch(1);

    rows_->setContentsMargins(12, 8, 12, 8);
    rows_->setSpacing(8);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(header_);
    layout->addWidget(card_);
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
}

} // namespace velm
