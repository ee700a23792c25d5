#include "Velm_Host/ui/StatusRow.h"

#include "Velm_Host/ui/PlainLabel.h"

#include <QHBoxLayout>
#include <QPainter>

namespace velm {

class StatusRow::Dot : public QWidget {
public:
    static constexpr int side = 9;

    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }

    void setTint(Tint tint) {
        tint_ = tint;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tintColour(tint_, palette()));
        painter.drawEllipse(QRectF(0, 0, side, side));
    }

private:
    Tint tint_ = Tint::secondary;
};

StatusRow::StatusRow(QWidget* parent)
    : QWidget(parent), dot_(new Dot(this)), text_(new PlainLabel({}, this)) {
    text_->setElided(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(dot_, 0, Qt::AlignVCenter);
    layout->addWidget(text_, 1);
}

void StatusRow::setLine(const StatusLine& line) {
    dot_->setTint(line.tint);
    text_->setText(line.text);
}

} // namespace velm
