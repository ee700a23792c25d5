#include "Velm_Host/ui/HostView.h"

#include "Velm_Host/ui/AwaySection.h"
#include "Velm_Host/ui/FormSection.h"
#include "Velm_Host/ui/HistorySection.h"
#include "Velm_Host/ui/HistorySheet.h"
#include "Velm_Host/ui/MoreOptionsSection.h"
#include "Velm_Host/ui/NeedsAttentionSection.h"
#include "Velm_Host/ui/OpenPairing.h"
#include "Velm_Host/ui/PairingCodeRow.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/StatusRow.h"
#include "Velm_Host/ui/ToggleRow.h"

#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace velm {
namespace {

constexpr int formMargin = 20;
constexpr int sectionSpacing = 20;
// No idle time-out anyone would choose lasts longer than this.
constexpr double longestIdleTimeout = 366.0 * 86400;

} // namespace

HostView::HostView(std::shared_ptr<HostModel> model, Options options, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), options_(std::move(options)) {
    if (!options_.queue) {
        options_.queue = Queue::main();
    }
    if (!options_.clock) {
        options_.clock = Date::now;
    }
    if (!options_.historyDates) {
        options_.historyDates = std::make_shared<HistoryDates>();
    }
    setFixedWidth(formWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(formMargin, formMargin, formMargin, formMargin);
    layout->setSpacing(sectionSpacing);
    needsAttention_ = new NeedsAttentionSection(options_.links);
    away_ = new AwaySection;
    moreOptions_ = new MoreOptionsSection;
    history_ = new HistorySection(model_->history(), options_.historyDates);
    layout->addWidget(makeStatusSection());
    layout->addWidget(needsAttention_);
    layout->addWidget(makeDevicesSection());
    layout->addWidget(away_);
    layout->addWidget(moreOptions_);
    layout->addWidget(history_);
    layout->addStretch(1);
    connectSections();
    followStores();
    refresh();
}

HostView::~HostView() {
    model_->history()->setOnChange(nullptr);
    model_->awayVisits()->setOnChange(nullptr);
}

FormSection* HostView::makeStatusSection() {
    auto* section = new FormSection("Status");
    statusRow_ = new StatusRow;
    remoteAccess_ = new ToggleRow("Allow Remote Access");
    section->addRow(statusRow_);
    section->addRow(remoteAccess_);
    return section;
}

FormSection* HostView::makeDevicesSection() {
    auto* section = new FormSection("Devices");
    pairButton_ = new QPushButton(QStringLiteral("Pair New Device…"));
    section->addHeaderControl(pairButton_);
    auto* body = new QWidget;
    pairingRow_ = new PairingCodeRow(options_.queue, options_.clock, body);
    cards_ = new DeviceCards(std::move(options_.cards), body);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pairingRow_);
    layout->addWidget(cards_);
    section->addRow(body);
    return section;
}

void HostView::connectSections() {
    HostModel& model = *model_;
    remoteAccess_->setOnToggle([&model](bool on) { model.setAllowRemoteAccess(on); });
    needsAttention_->setOnTurnOnLaunchAtLogin([&model] { model.setLaunchAtLogin(true); });
    QObject::connect(pairButton_, &QPushButton::clicked, this, [&model] { openPairing(*model.registry()); });
    pairingRow_->setOnCancel([&model] { model.registry()->closePairing(); });
    cards_->setOnDisconnect([this](const std::string& deviceID) { disconnect(deviceID); });
    cards_->setOnSetPolicy([&model](const PairedDevice& device, std::optional<double> idle, bool curtain) {
        model.setDevicePolicy(device.id, idleTimeout(idle), curtain);
    });
    cards_->setOnRemove([&model](const PairedDevice& device) { model.removeDevice(device.id); });
    cards_->setOnRemoveAll([this] { confirmRemoveAll(); });
    away_->setOnAllowAway([&model](bool allow) { model.setAllowAwayAccess(allow); });
    away_->setOnAccessDays([&model](int days) { model.setAwayAccessDays(days); });
    moreOptions_->setOnOpenAtLogin([&model](bool on) { model.setLaunchAtLogin(on); });
    moreOptions_->setOnAllowWithoutDeviceKey(
        [&model](bool allow) { model.setAllowsAwayWithoutDeviceKey(allow); });
    moreOptions_->setOnExpand([this] { showMoreOptions(); });
}

// Both report on the main queue, where this view lives; the handlers go with the view.
void HostView::followStores() {
    model_->history()->setOnChange([this] { history_->refreshSoon(); });
    model_->awayVisits()->setOnChange([this] { refresh(); });
}

void HostView::refresh() {
    const HostModel::State& state = model_->state();
    const HostStatus status = hostStatus(state, model_->awayVisits()->noticesAllowed());
    statusLine_ = StatusLine::of(status);
    statusRow_->setLine(statusLine_);
    remoteAccess_->setOn(state.allowRemoteAccess);
    needsAttention_->setStatus(status);
    pairButton_->setVisible(!state.pairingWindow);
    pairingRow_->setWindow(state.pairingWindow);
    cards_->setState(cardsState(state));
    away_->showSettings(state.allowRemoteAccess, state.allowAwayAccess, state.awayAccessDays);
    showMoreOptions();
}

// The addresses are read only while they are shown.
void HostView::showMoreOptions() {
    const HostModel::State& state = model_->state();
    moreOptions_->showSettings(
        {.opensAtLogin = state.restartReadiness.opensAtLogin,
         .allowAwayAccess = state.allowAwayAccess,
         .allowsAwayWithoutDeviceKey = state.allowsAwayWithoutDeviceKey,
         .addresses = moreOptions_->isExpanded() ? model_->localAddresses() : std::vector<LocalAddress>{}});
}

HostStatus HostView::hostStatus(const HostModel::State& state, bool noticesAllowed) {
    return {.allowRemoteAccess = state.allowRemoteAccess,
            .screenRecordingGranted = state.screenRecordingGranted,
            .accessibilityGranted = state.accessibilityGranted,
            .listenerState = state.listenerState,
            .connected = state.connected,
            .allowAwayAccess = state.allowAwayAccess,
            .awayStatus = awayState(state.awayStatus.kind()),
            .noticesAllowed = noticesAllowed,
            .restartReadiness = {.opensAtLogin = state.restartReadiness.opensAtLogin,
                                 .logsInAutomatically = state.restartReadiness.logsInAutomatically,
                                 .startsAfterPowerFailure = state.restartReadiness.startsAfterPowerFailure}};
}

AwayState HostView::awayState(HostAwayAccess::Status::Kind kind) {
    using Kind = HostAwayAccess::Status::Kind;
    switch (kind) {
    case Kind::ready:
        return AwayState::ready;
    case Kind::notReachable:
        return AwayState::notReachable;
    case Kind::off:
        return AwayState::off;
    case Kind::looking:
        return AwayState::looking;
    case Kind::noRouter:
        return AwayState::noRouter;
    case Kind::routerRefused:
        return AwayState::routerRefused;
    }
    return AwayState::off;
}

std::optional<std::chrono::seconds> HostView::idleTimeout(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds) || *seconds < 1) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::llround(std::min(*seconds, longestIdleTimeout)));
}

DeviceCardsState HostView::cardsState(const HostModel::State& state) const {
    DeviceCardsState cards{.devices = state.devices,
                           .live = state.connected,
                           .allowRemoteAccess = state.allowRemoteAccess,
                           .allowAwayAccess = state.allowAwayAccess,
                           .allowsAwayWithoutDeviceKey = state.allowsAwayWithoutDeviceKey,
                           .curtainCovers = options_.curtainCovers && options_.curtainCovers()};
    for (const PairedDevice& device : state.devices) {
        if (const auto end = model_->registry()->awayExpiry(device)) {
            cards.awayEnds.emplace(device.id, *end);
        }
    }
    return cards;
}

// Only the live device's session ends, and only while it is the current one.
void HostView::disconnect(const std::string& deviceID) {
    const auto& connected = model_->state().connected;
    if (!connected || connected->deviceID != deviceID) {
        return;
    }
    if (const auto session = model_->session()) {
        session->close(ByeReason::remoteAccessDisabled);
    }
}

void HostView::confirmRemoveAll() {
    if (!removeAllQuestion_) {
        removeAllQuestion_ = new QMessageBox(this);
        removeAllQuestion_->setAttribute(Qt::WA_DeleteOnClose);
        removeAllQuestion_->setTextFormat(Qt::PlainText);
        removeAllQuestion_->setText(QStringLiteral("Remove every paired device?"));
        removeAllQuestion_->setInformativeText(
            QStringLiteral("Each device's key is deleted, including the one connected now. To use one again, "
                           "pair it again."));
        QPushButton* remove =
            removeAllQuestion_->addButton(actionTitle("Remove All Devices"), QMessageBox::DestructiveRole);
        removeAllQuestion_->addButton(QMessageBox::Cancel);
        removeAllQuestion_->setDefaultButton(QMessageBox::Cancel);
        QObject::connect(remove, &QPushButton::clicked, this, [this] { removeAll(); });
    }
    removeAllQuestion_->open();
}

void HostView::removeAll() {
    model_->removeAllDevices();
}

} // namespace velm
