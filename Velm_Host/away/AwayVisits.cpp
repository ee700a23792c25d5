#include "Velm_Host/away/AwayVisits.h"

#include "Velm_Host/away/StoredAwayVisits.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <utility>

namespace velm {
namespace {

const Log awayVisitsLog("away");

constexpr StoredAwayVisits stored{.maxVisits = AwayVisits::maxVisits,
                                  .maxTextBytes = AwayVisits::maxTextBytes};

bool isRecent(double secondsSinceEnd) {
    return secondsSinceEnd >= 0 && secondsSinceEnd < AwayVisits::reopenSeconds;
}

Notifications::Notice noticeOf(const AwayVisit& visit) {
    const std::string warning = "Not you? Remove the device: its key stops working everywhere.";
    return Notifications::Notice{
        .title = visit.deviceName + " connected from away",
        .body = visit.from ? "From " + *visit.from + ". " + warning : warning,
        .category = std::string(AwayVisits::noticeCategory),
        .actions = {{std::string(AwayVisits::disconnectAction), "Disconnect"},
                    {std::string(AwayVisits::removeDeviceAction), "Remove Device"}},
        // The answer to "Not you?" must not vanish before the user has read it.
        .staysUntilDismissed = true,
    };
}

const char* describe(Notifications::Support support) {
    switch (support) {
    case Notifications::Support::none:
        return "no notification server";
    case Notifications::Support::withoutActions:
        return "a server without buttons";
    case Notifications::Support::withActions:
        return "a server with buttons";
    }
    return "?";
}

} // namespace

std::shared_ptr<AwayVisits> AwayVisits::make(std::shared_ptr<DefaultsStore> defaults,
                                             std::shared_ptr<Notifications> notifications,
                                             std::shared_ptr<Queue> queue) {
    auto visits = std::shared_ptr<AwayVisits>(
        new AwayVisits(std::move(defaults), std::move(notifications), std::move(queue)));
    visits->load();
    visits->listen();
    return visits;
}

AwayVisits::AwayVisits(std::shared_ptr<DefaultsStore> defaults, std::shared_ptr<Notifications> notifications,
                       std::shared_ptr<Queue> queue)
    : defaults_(std::move(defaults)), notifications_(std::move(notifications)), queue_(std::move(queue)) {}

void AwayVisits::setOnDisconnect(DeviceHandler handler) {
    std::lock_guard guard(lock);
    onDisconnect_ = std::move(handler);
}

void AwayVisits::setOnRemoveDevice(DeviceHandler handler) {
    std::lock_guard guard(lock);
    onRemoveDevice_ = std::move(handler);
}

void AwayVisits::setOnChange(std::function<void()> handler) {
    onChange_.set(std::move(handler));
}

std::vector<AwayVisit> AwayVisits::visits() const {
    std::lock_guard guard(lock);
    return visits_;
}

bool AwayVisits::noticesAllowed() const {
    std::lock_guard guard(lock);
    return noticesAllowed_;
}

AwayVisits::Session AwayVisits::sessionStarted(const std::string& deviceID, const std::string& deviceName,
                                               const std::optional<std::string>& from, Date at) {
    AwayVisit visit = stored.bounded({Uuid::random(), deviceID, deviceName, from, at, std::nullopt});
    Session session;
    bool continued = false;
    {
        std::lock_guard guard(lock);
        session = {visit.deviceID, ++lastSession_};
        const auto newest = std::find_if(visits_.begin(), visits_.end(), [&](const AwayVisit& kept) {
            return kept.deviceID == visit.deviceID;
        });
        // A visit that ended after `at` (a clock set back, or a date stored by no clock of ours) is
        // of unknown age: continuing it would let a new session from away in without a notice.
        if (newest != visits_.end() && (newest->isOpen() || isRecent(at.secondsSince(*newest->ended)))) {
            newest->ended.reset();
            if (visit.from) {
                newest->from = visit.from;
            }
            holders_[newest->id] = session.number;
            continued = true;
        } else {
            visits_.insert(visits_.begin(), visit);
            holders_[visit.id] = session.number;
            dropOldestLocked();
        }
        saveLocked();
    }
    publish();
    if (!continued) {
        awayVisitsLog.info("away session: %s from %s", visit.deviceName.c_str(),
                           visit.from ? visit.from->c_str() : "?");
        showNotice(visit);
    }
    return session;
}

void AwayVisits::sessionEnded(const Session& session, Date at) {
    {
        std::lock_guard guard(lock);
        const auto visit = std::find_if(visits_.begin(), visits_.end(), [&](const AwayVisit& kept) {
            const auto holder = holders_.find(kept.id);
            return kept.deviceID == session.deviceID && kept.isOpen() && holder != holders_.end() &&
                   holder->second == session.number;
        });
        if (visit == visits_.end()) {
            return;
        }
        visit->ended = at;
        holders_.erase(visit->id);
        saveLocked();
    }
    publish();
}

void AwayVisits::requestNotices(const Notifications::Check& answer) {
    const bool allowed = answer.support == Notifications::Support::withActions;
    // The word says whether a server answered at all; whether notices count as allowed depends on
    // their buttons, without which a notice from away could not be acted on.
    const std::string why = answer.error ? ", " + *answer.error : "";
    awayVisitsLog.info("away notices: %s (%s)%s",
                       answer.support != Notifications::Support::none ? "allowed" : "not allowed",
                       describe(answer.support), why.c_str());
    {
        std::lock_guard guard(lock);
        noticesAllowed_ = allowed;
    }
    publish();
}

void AwayVisits::load() {
    std::lock_guard guard(lock);
    takeInStoredLocked();
}

// The stored visits go behind those of sessions that started while the settings file could not be read.
void AwayVisits::takeInStoredLocked() {
    if (storedInHand_ || (defaults_ && !defaults_->hasRead())) {
        return;
    }
    storedInHand_ = true;
    if (!defaults_) {
        return;
    }
    const auto value = defaults_->jsonValue(defaultsKey);
    if (!value) {
        return;
    }
    auto loaded = stored.read(*value);
    if (!loaded) {
        awayVisitsLog.error("stored away visits are unreadable; starting with none");
        return;
    }
    visits_.insert(visits_.end(), std::make_move_iterator(loaded->begin()),
                   std::make_move_iterator(loaded->end()));
    dropOldestLocked();
}

void AwayVisits::listen() {
    if (!notifications_) {
        return;
    }
    // Servers close a notice right after a button of it was pressed: both take the same way here, so the
    // press is served before its notice is forgotten.
    notifications_->setOnAction(onQueueWhileAlive(queue_, shared_from_this(), &AwayVisits::noticeAction));
    notifications_->setOnClosed(onQueueWhileAlive(queue_, shared_from_this(), &AwayVisits::noticeClosed));
}

void AwayVisits::showNotice(const AwayVisit& visit) {
    if (!notifications_) {
        return;
    }
    notifications_->show(
        noticeOf(visit),
        whileAlive(shared_from_this(),
                   [deviceID = visit.deviceID](AwayVisits& self, std::optional<std::uint32_t> noticeID,
                                               const std::string& error) {
                       self.noticeShown(deviceID, noticeID, error);
                   }));
}

void AwayVisits::noticeShown(const std::string& deviceID, std::optional<std::uint32_t> noticeID,
                             const std::string& error) {
    if (!noticeID) {
        awayVisitsLog.error("away notice not shown: %s", error.c_str());
        return;
    }
    std::lock_guard guard(lock);
    // A server that started afresh numbers its notices from the beginning again.
    forgetNoticeLocked(*noticeID);
    notices_.push_back({*noticeID, deviceID});
    if (notices_.size() > maxNotices) {
        notices_.pop_front();
    }
}

void AwayVisits::noticeAction(std::uint32_t noticeID, const std::string& actionKey) {
    DeviceHandler handler;
    std::string deviceID;
    {
        std::lock_guard guard(lock);
        const auto notice = std::find_if(notices_.begin(), notices_.end(),
                                         [&](const ShownNotice& shown) { return shown.id == noticeID; });
        if (notice == notices_.end()) {
            return;
        }
        deviceID = notice->deviceID;
        if (actionKey == disconnectAction) {
            handler = onDisconnect_;
        } else if (actionKey == removeDeviceAction) {
            handler = onRemoveDevice_;
        }
    }
    if (handler) {
        handler(deviceID);
    }
}

void AwayVisits::noticeClosed(std::uint32_t noticeID) {
    std::lock_guard guard(lock);
    forgetNoticeLocked(noticeID);
}

void AwayVisits::forgetNoticeLocked(std::uint32_t noticeID) {
    std::erase_if(notices_, [&](const ShownNotice& shown) { return shown.id == noticeID; });
}

void AwayVisits::saveLocked() {
    if (!defaults_) {
        return;
    }
    takeInStoredLocked();
    if (!storedInHand_) {
        awayVisitsLog.error("away visits not saved: the stored visits cannot be read yet");
        return;
    }
    auto value = StoredAwayVisits::form(visits_);
    if (!value || !defaults_->setJson(defaultsKey, std::move(*value))) {
        awayVisitsLog.error("away visits not saved");
    }
}

void AwayVisits::dropOldestLocked() {
    while (visits_.size() > maxVisits) {
        holders_.erase(visits_.back().id);
        visits_.pop_back();
    }
}

void AwayVisits::publish() {
    queue_->post(whileAlive(shared_from_this(), [](AwayVisits& self) { self.onChange_(); }));
}

} // namespace velm
