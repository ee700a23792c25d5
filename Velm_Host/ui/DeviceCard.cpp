#include "Velm_Host/ui/DeviceCard.h"

#include "Velm_Host/ui/CardStyle.h"
#include "Velm_Host/ui/DevicePortrait.h"
#include "Velm_Host/ui/PlainLabel.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWidgetAction>

namespace velm {
namespace {

QLabel* centredLine(QWidget* parent, const char* name, CardStyle::Text text) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Names come from the devices: never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    CardStyle::apply(*label, text);
    return label;
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// A title over a group of a menu's items. The style's own section line draws its text over the
// menu's edge when the text is the widest thing in the menu; a label sizes the menu by itself.
QWidgetAction* menuTitle(QMenu* menu, std::string_view title) {
    constexpr int sideMargin = 10;
    constexpr int topMargin = 4;
    auto* label = new PlainLabel(title);
    label->makeCaption();
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setContentsMargins(sideMargin, topMargin, sideMargin, 0);
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(label);
    action->setEnabled(false);
    menu->addAction(action);
    return action;
}

} // namespace

DeviceCard::DeviceCard(Actions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), layout_(new QVBoxLayout(this)),
      name_(centredLine(this, "name", CardStyle::Text::headline)), dot_(new QLabel(this)),
      status_(centredLine(this, "status", CardStyle::Text::caption)),
      model_(centredLine(this, "model", CardStyle::Text::tertiary)),
      away_(centredLine(this, "away", CardStyle::Text::tertiary)),
      policy_(centredLine(this, "policy-line", CardStyle::Text::tertiary)),
      disconnect_(new QPushButton("Disconnect", this)), policyButton_(new QPushButton("Policy", this)),
      policyMenu_(new QMenu(this)), idleChoices_(new QActionGroup(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(10);

    name_->setWordWrap(false);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(5);
    statusRow->addStretch();
    statusRow->addWidget(dot_);
    statusRow->addWidget(status_);
    statusRow->addStretch();
    status_->setWordWrap(false);

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(name_);
    text->addLayout(statusRow);
    text->addWidget(model_);
    text->addWidget(away_);
    text->addWidget(policy_);

    disconnect_->setObjectName("disconnect");
    policyButton_->setObjectName("policy");
    policyButton_->setMenu(policyMenu_);
    auto* remove = new QPushButton("Remove", this);
    remove->setObjectName("remove");
    for (QPushButton* button : {disconnect_, policyButton_, remove}) {
        CardStyle::makeSmall(*button);
    }
    CardStyle::makeDestructive(*remove);
    connect(disconnect_, &QPushButton::clicked, this, [this] { actions_.disconnect(); });
    connect(remove, &QPushButton::clicked, this, [this] { actions_.remove(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(disconnect_, 0, Qt::AlignVCenter);
    buttons->addWidget(policyButton_, 0, Qt::AlignVCenter);
    buttons->addWidget(remove, 0, Qt::AlignVCenter);
    buttons->addStretch();

    layout_->addLayout(text);
    layout_->addLayout(buttons);
    layout_->addStretch();
}

void DeviceCard::present(const PairedDevice& device, const DeviceCardLines& lines, bool curtainCovers) {
    fullName_ = qt(lines.name);
    showName();
    dot_->setPixmap(CardStyle::statusDot(lines.isLive, devicePixelRatioF()));
    status_->setText(qt(lines.status));
    model_->setVisible(lines.modelName.has_value());
    model_->setText(qt(lines.modelName.value_or("")));
    away_->setVisible(lines.away.has_value());
    if (lines.away) {
        away_->setText(qt(lines.away->text));
        CardStyle::apply(*away_,
                         lines.away->isWarning ? CardStyle::Text::warning : CardStyle::Text::tertiary);
    }
    policy_->setText(qt(lines.policy));
    disconnect_->setVisible(lines.isLive);
    if (portrait_ != nullptr) {
        portrait_->setSaturation(lines.isLive ? 1 : CardStyle::idleSaturation);
    }
    fillPolicyMenu(device, curtainCovers);
}

void DeviceCard::setPortrait(DevicePortrait* portrait) {
    if (portrait_ != nullptr) {
        layout_->removeWidget(portrait_);
        portrait_->deleteLater();
    }
    portrait_ = portrait;
    portrait_->setParent(this);
    portrait_->setFixedHeight(CardStyle::portraitHeight + CardStyle::portraitPadding);
    portrait_->setContentsMargins(CardStyle::portraitPadding, 0, CardStyle::portraitPadding,
                                  CardStyle::portraitPadding);
    layout_->insertWidget(0, portrait_);
}

void DeviceCard::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showName();
}

void DeviceCard::showName() {
    name_->setText(name_->fontMetrics().elidedText(fullName_, Qt::ElideRight, std::max(width(), 1)));
}

void DeviceCard::fillPolicyMenu(const PairedDevice& device, bool curtainCovers) {
    const MenuFor menuFor{device.idleTimeout, device.curtain.value_or(false), curtainCovers};
    if (menuFor_ == menuFor) {
        return;
    }
    menuFor_ = menuFor;
    policyMenu_->clear();
    idleActions_.clear();
    curtainAction_ = nullptr;
    menuTitle(policyMenu_, "Disconnect When Idle");
    const auto chosen = DeviceCardLines::idleTimeoutChoice(device.idleTimeout);
    const bool curtain = device.curtain.value_or(false);
    for (std::size_t index = 0; index < DeviceCardLines::idleTimeoutChoices.size(); ++index) {
        const auto timeout = DeviceCardLines::idleTimeoutChoices[index];
        QAction* action = policyMenu_->addAction(qt(DeviceCardLines::idleTimeoutText(timeout)));
        action->setCheckable(true);
        action->setChecked(chosen == index);
        idleChoices_->addAction(action);
        idleActions_.push_back(action);
        connect(action, &QAction::triggered, this, [this, timeout, curtain] {
            actions_.setPolicy(timeout, curtain);
            checkPolicyInForce();
        });
    }
    if (curtainCovers) {
        policyMenu_->addSeparator();
        QAction* toggle = policyMenu_->addAction("Privacy Curtain");
        toggle->setCheckable(true);
        toggle->setChecked(curtain);
        curtainAction_ = toggle;
        const auto timeout = device.idleTimeout;
        connect(toggle, &QAction::toggled, this, [this, timeout](bool on) {
            actions_.setPolicy(timeout, on);
            checkPolicyInForce();
        });
    }
}

// A choice shows once the model has taken it and the card is given the device as it then is: the
// change may not be saved, or the device may be gone.
void DeviceCard::checkPolicyInForce() {
    if (!menuFor_) {
        return;
    }
    const auto chosen = DeviceCardLines::idleTimeoutChoice(menuFor_->idleTimeout);
    for (std::size_t index = 0; index < idleActions_.size(); ++index) {
        idleActions_[index]->setChecked(chosen == index);
    }
    if (curtainAction_ != nullptr) {
        const QSignalBlocker quiet(curtainAction_);
        curtainAction_->setChecked(menuFor_->curtain);
    }
}

} // namespace velm
