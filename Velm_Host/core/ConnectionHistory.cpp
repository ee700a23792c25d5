#include "Velm_Host/core/ConnectionHistory.h"

#include "Velm_Host/core/BoundedText.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

namespace velm {
namespace {

const Log connectionHistoryLog("host");

ConnectionHistory::Peer bounded(const ConnectionHistory::Peer& peer) {
    constexpr std::size_t limit = ConnectionHistory::maxTextBytes;
    return ConnectionHistory::Peer{
        .deviceID = boundedText(peer.deviceID, limit),
        .deviceName = boundedText(peer.deviceName, limit),
        .route = peer.route,
        .from = peer.from ? std::optional(boundedText(*peer.from, limit)) : std::nullopt,
        .forwardSecret = peer.forwardSecret,
    };
}

// The settings may have been written by any program of the user: stored texts are held to the same
// bound as new ones, or a history of long names would no longer fit the message that answers a device.
void keepTextsShort(ConnectionRecord& record) {
    constexpr std::size_t limit = ConnectionHistory::maxTextBytes;
    record.deviceID = boundedText(record.deviceID, limit);
    record.deviceName = boundedText(record.deviceName, limit);
    if (record.from) {
        record.from = boundedText(*record.from, limit);
    }
}

} // namespace

std::shared_ptr<ConnectionHistory> ConnectionHistory::make(std::shared_ptr<DefaultsStore> defaults,
                                                           std::shared_ptr<Queue> mainQueue,
                                                           Options options) {
    auto history = std::shared_ptr<ConnectionHistory>(
        new ConnectionHistory(std::move(defaults), std::move(mainQueue), std::move(options)));
    history->load();
    return history;
}

ConnectionHistory::ConnectionHistory(std::shared_ptr<DefaultsStore> defaults,
                                     std::shared_ptr<Queue> mainQueue, Options options)
    : defaults_(std::move(defaults)), mainQueue_(std::move(mainQueue)), options_(std::move(options)) {}

void ConnectionHistory::setOnChange(std::function<void()> handler) {
    onChange_.set(std::move(handler));
}

ConnectionLog ConnectionHistory::log() const {
    std::lock_guard guard(lock);
    return log_;
}

Uuid ConnectionHistory::begin(ConnectionRecord::Kind kind, const Peer& peer) {
    const Peer kept = bounded(peer);
    Uuid id;
    change([&](ConnectionLog& log) {
        id = log.begin(kind, kept.deviceID, kept.deviceName, kept.route, kept.from, kept.forwardSecret,
                       options_.now());
        return true;
    });
    return id;
}

bool ConnectionHistory::end(const Uuid& id, ConnectionRecord::Ending ending) {
    return change([&](ConnectionLog& log) {
        const bool open =
            std::any_of(log.records.begin(), log.records.end(),
                        [&](const ConnectionRecord& record) { return record.id == id && record.isOpen(); });
        if (open) {
            log.end(id, ending, options_.now());
        }
        return open;
    });
}

void ConnectionHistory::recordRefusal(ConnectionRecord::Refusal refusal, const Peer& peer) {
    const Peer kept = bounded(peer);
    change([&](ConnectionLog& log) {
        log.recordRefusal(refusal, kept.deviceID, kept.deviceName, kept.route, kept.from, kept.forwardSecret,
                          options_.now());
        return true;
    });
}

void ConnectionHistory::clear() {
    change([this](ConnectionLog& log) {
        std::erase_if(log.records, [](const ConnectionRecord& record) { return !record.isOpen(); });
        // What is stored and not yet read is cleared with the rest.
        storedInHand_ = true;
        return true;
    });
}

void ConnectionHistory::save() {
    std::lock_guard saving(saveLock_);
    saveHeld();
}

bool ConnectionHistory::change(const std::function<bool(ConnectionLog&)>& edit) {
    {
        std::lock_guard saving(saveLock_);
        {
            std::lock_guard guard(lock);
            if (!edit(log_)) {
                return false;
            }
        }
        saveHeld();
    }
    publish();
    return true;
}

void ConnectionHistory::load() {
    std::lock_guard saving(saveLock_);
    takeInStored();
    saveHeld();
}

// The stored records go behind those this run made while the settings file could not be read; records
// the last run left open are closed as interrupted.
void ConnectionHistory::takeInStored() {
    if (storedInHand_ || (defaults_ && !defaults_->hasRead())) {
        return;
    }
    ConnectionLog stored;
    if (defaults_) {
        if (const auto value = defaults_->jsonValue(defaultsKey)) {
            const std::string text = value->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            stored = ConnectionLog::fromStoredForm(toBytes(text));
        }
    }
    std::for_each(stored.records.begin(), stored.records.end(), keepTextsShort);
    stored.closeOpenRecords();
    {
        std::lock_guard guard(lock);
        log_.records.insert(log_.records.end(), std::make_move_iterator(stored.records.begin()),
                            std::make_move_iterator(stored.records.end()));
        log_.prune(options_.now());
    }
    storedInHand_ = true;
}

void ConnectionHistory::saveHeld() {
    if (!defaults_) {
        return;
    }
    takeInStored();
    if (!storedInHand_) {
        connectionHistoryLog.error("history not saved: the stored history cannot be read yet");
        return;
    }
    const auto stored = log().storedForm();
    if (!stored) {
        return;
    }
    auto value = nlohmann::json::parse(stored->begin(), stored->end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !defaults_->setJson(defaultsKey, std::move(value))) {
        connectionHistoryLog.error("history not saved");
    }
}

void ConnectionHistory::publish() {
    mainQueue_->post(whileAlive(shared_from_this(), [](ConnectionHistory& self) { self.onChange_(); }));
}

} // namespace velm
