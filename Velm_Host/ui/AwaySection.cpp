#include "Velm_Host/ui/AwaySection.h"

#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/ToggleRow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <algorithm>
#include <iterator>

namespace velm {

AwaySection::AwaySection(QWidget* parent)
    : FormSection("Away from Home", parent),
      reachable_(new ToggleRow("Reachable Away from Home",
                               "Paired devices reach this computer from anywhere, with Face ID.")),
      lasts_(new QWidget), accessDays_(new QComboBox(lasts_)) {
    for (const int days : dayChoices) {
        accessDays_->addItem(daysTitle(days), days);
    }
    accessDays_->setToolTip(
        QStringLiteral("Counted from each device's last connection here at home, which renews it."));
    auto* label = new PlainLabel("Access lasts", lasts_);
    label->setBuddy(accessDays_);
    auto* layout = new QHBoxLayout(lasts_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label, 1);
    layout->addWidget(accessDays_);
    // `activated` comes only from the user's choice.
    QObject::connect(accessDays_, &QComboBox::activated, this, [this](int index) {
        if (onAccessDays_ && index >= 0) {
            onAccessDays_(accessDays_->itemData(index).toInt());
        }
    });
    addRow(reachable_);
    addRow(lasts_);
}

void AwaySection::setOnAllowAway(std::function<void(bool allow)> handler) {
    reachable_->setOnToggle(std::move(handler));
}

void AwaySection::setOnAccessDays(std::function<void(int days)> handler) {
    onAccessDays_ = std::move(handler);
}

void AwaySection::showSettings(bool allowRemoteAccess, bool allowAwayAccess, int awayAccessDays) {
    reachable_->setOn(allowAwayAccess);
    reachable_->setEnabled(allowRemoteAccess);
    const auto* chosen = std::find(dayChoices.begin(), dayChoices.end(), awayAccessDays);
    if (chosen != dayChoices.end()) {
        const QSignalBlocker quiet(accessDays_);
        accessDays_->setCurrentIndex(static_cast<int>(std::distance(dayChoices.begin(), chosen)));
    }
    setRowShown(lasts_, allowRemoteAccess && allowAwayAccess);
}

QString AwaySection::daysTitle(int days) {
    if (days == 0) {
        return QStringLiteral("Always");
    }
    if (days == 1) {
        return QStringLiteral("1 day");
    }
    return QStringLiteral("%1 days").arg(days);
}

} // namespace velm
