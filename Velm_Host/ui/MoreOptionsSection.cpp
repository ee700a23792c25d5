#include "Velm_Host/ui/MoreOptionsSection.h"

#include "Velm_Host/ui/LinkButton.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/ToggleRow.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLayoutItem>

namespace velm {

MoreOptionsSection::MoreOptionsSection(QWidget* parent)
    : FormSection("More Options", parent), expand_(new LinkButton("Show")),
      openAtLogin_(new ToggleRow("Open at Login")),
      withoutDeviceKey_(new ToggleRow("Allow devices without away key", "Turns off once all have one.")),
      addresses_(new QWidget), addressGrid_(new QGridLayout(addresses_)) {
    addHeaderControl(expand_);
    QObject::connect(expand_, &QPushButton::clicked, this, [this] {
        expanded_ = !expanded_;
        expand_->setText(expanded_ ? QStringLiteral("Hide") : QStringLiteral("Show"));
        if (onExpand_) {
            onExpand_();
        }
    });
    addressGrid_->setContentsMargins(0, 0, 0, 0);
    addressGrid_->setColumnStretch(1, 1);
    addRow(openAtLogin_);
    addRow(withoutDeviceKey_);
    addRow(addresses_);
    showSettings({});
}

void MoreOptionsSection::setOnOpenAtLogin(std::function<void(bool on)> handler) {
    openAtLogin_->setOnToggle(std::move(handler));
}

void MoreOptionsSection::setOnAllowWithoutDeviceKey(std::function<void(bool allow)> handler) {
    withoutDeviceKey_->setOnToggle(std::move(handler));
}

void MoreOptionsSection::setOnExpand(std::function<void()> handler) {
    onExpand_ = std::move(handler);
}

void MoreOptionsSection::showSettings(const Settings& settings) {
    openAtLogin_->setOn(settings.opensAtLogin);
    withoutDeviceKey_->setOn(settings.allowsAwayWithoutDeviceKey);
    fillAddresses(settings.addresses);
    setRowShown(openAtLogin_, expanded_ && settings.opensAtLogin);
    setRowShown(withoutDeviceKey_, expanded_ && settings.allowAwayAccess);
    setRowShown(addresses_, expanded_ && !settings.addresses.empty());
    setFooter(expanded_ && !settings.addresses.empty()
                  ? "To connect over a VPN, give the device this computer's VPN address: ··· beside "
                    "the computer's name in Velm, Address…."
                  : "");
}

void MoreOptionsSection::fillAddresses(const std::vector<LocalAddress>& addresses) {
    if (shownAddresses_ == addresses) {
        return;
    }
    shownAddresses_ = addresses;
    while (QLayoutItem* item = addressGrid_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    int line = 0;
    for (const LocalAddress& address : addresses) {
        auto* label = new PlainLabel(address.isVPN ? "VPN address" : "Address", addresses_);
        auto* value = new PlainLabel(address.address, addresses_);
        value->setFont(fixed);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        addressGrid_->addWidget(label, line, 0);
        addressGrid_->addWidget(value, line, 1);
        ++line;
    }
}

} // namespace velm
