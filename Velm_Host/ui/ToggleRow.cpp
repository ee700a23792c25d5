#include "Velm_Host/ui/ToggleRow.h"

#include "Velm_Host/ui/PlainLabel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velm {

ToggleRow::ToggleRow(std::string_view title, std::string_view subtitle, QWidget* parent)
    : QWidget(parent), toggle_(new QCheckBox(this)) {
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = new PlainLabel(title, this);
    titleLabel->setBuddy(toggle_);
    texts->addWidget(titleLabel);
    if (!subtitle.empty()) {
        auto* subtitleLabel = new PlainLabel(subtitle, this);
        subtitleLabel->makeCaption();
        subtitleLabel->setWordWrap(true);
        texts->addWidget(subtitleLabel);
    }
    toggle_->setAccessibleName(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addLayout(texts, 1);
    layout->addWidget(toggle_, 0, Qt::AlignVCenter);
    // `clicked` comes only from the user, never from setOn.
    QObject::connect(toggle_, &QCheckBox::clicked, this, [this](bool on) {
        if (onToggle_) {
            onToggle_(on);
        }
    });
}

void ToggleRow::setOnToggle(std::function<void(bool on)> handler) {
    onToggle_ = std::move(handler);
}

void ToggleRow::setOn(bool on) {
    toggle_->setChecked(on);
}

bool ToggleRow::isOn() const {
    return toggle_->isChecked();
}

} // namespace velm
