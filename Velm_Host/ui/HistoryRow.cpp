#include "Velm_Host/ui/HistoryRow.h"

#include "Velm_Host/ui/HistoryText.h"
#include "Velm_Host/ui/PlainLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velm {
namespace {

constexpr int iconPoints = 16;

} // namespace

HistoryRow::HistoryRow(const ConnectionRecord& record, const HistoryDates& dates, QWidget* parent)
    : QWidget(parent), title_(new PlainLabel(HistoryText::title(record), this)),
      caption_(new PlainLabel(HistoryText::caption(record, dates), this)) {
    auto* icon = new QLabel(this);
    icon->setPixmap(rowIconPixmap(HistoryText::icon(record), iconPoints, devicePixelRatioF(), palette()));
    icon->setFixedWidth(iconPoints);
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    title_->setElided(true);
    caption_->makeCaption();
    caption_->setWordWrap(true);
    caption_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(title_);
    texts->addWidget(caption_);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
}

} // namespace velm
