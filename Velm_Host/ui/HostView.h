#pragma once

#include "Velm_Host/model/HostModel.h"
#include "Velm_Host/ui/DeviceCards.h"
#include "Velm_Host/ui/DeviceCardsState.h"
#include "Velm_Host/ui/HistoryDates.h"
#include "Velm_Host/ui/HostStatus.h"
#include "Velm_Host/ui/SettingsLinks.h"
#include "Velm_Host/ui/StatusLine.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QPushButton;

namespace velm {

class AwaySection;
class FormSection;
class HistorySection;
class MoreOptionsSection;
class NeedsAttentionSection;
class PairingCodeRow;
class StatusRow;
class ToggleRow;

// The main window's form: how the host stands, what needs the user, pairing and the paired devices,
// away access, more options and the latest history. It shows only what the model publishes and hands
// every choice back to the model (its setters and operations, the registry for pairing, the current
// session for a disconnect). Its owner calls refresh after every change of the model's state; the
// history and the away visits it follows itself.
class HostView : public QWidget {
public:
    static constexpr int formWidth = 520;

    struct Options {
        // Where the pairing countdown runs and what it reads: the model's queue and clock.
        // Null: the main queue and the wall clock.
        std::shared_ptr<Queue> queue;
        std::function<Date()> clock;
        SettingsLinks links;
        // Null: the user's locale and time zone.
        std::shared_ptr<const HistoryDates> historyDates;
        DeviceCards::Options cards;
        // Whether a raised curtain would cover a screen of this computer; null: it would cover none.
        std::function<bool()> curtainCovers;
    };

    // The model must have been started.
    HostView(std::shared_ptr<HostModel> model, Options options, QWidget* parent = nullptr);
    ~HostView() override;

    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;

    void refresh();

    // The published state as the status row and the needs-attention rows take it.
    static HostStatus hostStatus(const HostModel::State& state, bool noticesAllowed);
    static AwayState awayState(HostAwayAccess::Status::Kind kind);
    // A policy's idle time-out as the model takes it: none for no limit (or a number no limit can be).
    static std::optional<std::chrono::seconds> idleTimeout(std::optional<double> seconds);

    const StatusLine& statusLine() const { return statusLine_; }
    ToggleRow* remoteAccess() const { return remoteAccess_; }
    NeedsAttentionSection* needsAttention() const { return needsAttention_; }
    QPushButton* pairButton() const { return pairButton_; }
    PairingCodeRow* pairingRow() const { return pairingRow_; }
    DeviceCards* cards() const { return cards_; }
    AwaySection* away() const { return away_; }
    MoreOptionsSection* moreOptions() const { return moreOptions_; }
    HistorySection* history() const { return history_; }
    // The remove-all question while it is open.
    QMessageBox* removeAllQuestion() const { return removeAllQuestion_; }

private:
    FormSection* makeStatusSection();
    FormSection* makeDevicesSection();
    void connectSections();
    void followStores();

    DeviceCardsState cardsState(const HostModel::State& state) const;
    void showMoreOptions();
    void disconnect(const std::string& deviceID);
    void confirmRemoveAll();
    void removeAll();

    const std::shared_ptr<HostModel> model_;
    Options options_;
    StatusLine statusLine_;
    StatusRow* statusRow_ = nullptr;
    ToggleRow* remoteAccess_ = nullptr;
    NeedsAttentionSection* needsAttention_ = nullptr;
    QPushButton* pairButton_ = nullptr;
    PairingCodeRow* pairingRow_ = nullptr;
    DeviceCards* cards_ = nullptr;
    AwaySection* away_ = nullptr;
    MoreOptionsSection* moreOptions_ = nullptr;
    HistorySection* history_ = nullptr;
    QPointer<QMessageBox> removeAllQuestion_;
};

} // namespace velm
