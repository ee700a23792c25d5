#include "protocol/ConnectionLog.h"

#include "platform/log/Log.h"
#include "protocol/json/Json.h"
#include "protocol/json/JsonCheck.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace velm {
namespace {

// The decoder's own account of a record that does not fit; read once, for the log.
std::string whyUnreadable(const nlohmann::json& record) {
    try {
        const JsonPath path;
        JsonReader(record, path).read<ConnectionRecord>();
    } catch (const JsonError& error) {
        return error.what();
    }
    return "unknown";
}

} // namespace

Uuid ConnectionLog::begin(ConnectionRecord::Kind kind, const std::string& deviceID,
                          const std::string& deviceName, ConnectionRecord::Route route,
                          const std::optional<std::string>& from, bool forwardSecret, Date at) {
    if (kind == ConnectionRecord::Kind::session) {
        // Only the device's newest session record may be reopened, never an older one.
        const auto newest = std::find_if(records.begin(), records.end(), [&](const ConnectionRecord& record) {
            return record.kind == ConnectionRecord::Kind::session && record.deviceID == deviceID;
        });
        // An end after `at` means the clock was set back: by a little, the reconnect was quick; by the
        // window or more, how long the device was away cannot be told, and joining would misstate both.
        if (newest != records.end() && newest->route == route && !newest->isOpen() &&
            std::fabs(at.secondsSince(*newest->ended)) < reopenWindow &&
            newest->ending != ConnectionRecord::Ending::idleTimeout) {
            newest->ended.reset();
            newest->ending.reset();
            newest->deviceName = deviceName;
            if (from) {
                newest->from = from;
            }
            newest->forwardSecret = newest->forwardSecret && forwardSecret;
            return newest->id;
        }
    }
    ConnectionRecord record{.id = Uuid::random(),
                            .kind = kind,
                            .deviceID = deviceID,
                            .deviceName = deviceName,
                            .route = route,
                            .from = from,
                            .started = at,
                            .ended = std::nullopt,
                            .ending = std::nullopt,
                            .refusal = std::nullopt,
                            .forwardSecret = forwardSecret};
    const Uuid id = record.id;
    insert(std::move(record), at);
    return id;
}

void ConnectionLog::end(const Uuid& id, ConnectionRecord::Ending ending, Date at) {
    const auto open = std::find_if(records.begin(), records.end(), [&](const ConnectionRecord& record) {
        return record.id == id && record.isOpen();
    });
    if (open != records.end()) {
        open->ended = at;
        open->ending = ending;
    }
}

void ConnectionLog::recordRefusal(ConnectionRecord::Refusal refusal, const std::string& deviceID,
                                  const std::string& deviceName, ConnectionRecord::Route route,
                                  const std::optional<std::string>& from, bool forwardSecret, Date at) {
    insert(ConnectionRecord{.id = Uuid::random(),
                            .kind = ConnectionRecord::Kind::refused,
                            .deviceID = deviceID,
                            .deviceName = deviceName,
                            .route = route,
                            .from = from,
                            .started = at,
                            .ended = at,
                            .ending = std::nullopt,
                            .refusal = refusal,
                            .forwardSecret = forwardSecret},
           at);
}

void ConnectionLog::prune(Date now) {
    std::erase_if(records, [now](const ConnectionRecord& record) {
        return !record.isOpen() && now.secondsSince(*record.ended) > maximumAge;
    });
    if (records.size() > maximumRecords) {
        records.resize(maximumRecords);
    }
}

void ConnectionLog::closeOpenRecords() {
    for (ConnectionRecord& record : records) {
        if (record.isOpen()) {
            record.ended = record.started;
            record.ending = ConnectionRecord::Ending::interrupted;
        }
    }
}

std::optional<Bytes> ConnectionLog::storedForm() const {
    return Json::tryEncode(*this);
}

ConnectionLog ConnectionLog::fromStoredForm(ByteView stored) {
    const Log log("host");
    nlohmann::json root;
    try {
        root = Json::parse(stored);
    } catch (const JsonError& error) {
        log.error("stored history is unreadable (%s); starting an empty one", error.what());
        return {};
    }
    const auto records = root.is_object() ? root.find("records") : root.end();
    if (records == root.end() || !records->is_array()) {
        log.error("stored history is unreadable; starting an empty one");
        return {};
    }
    ConnectionLog result;
    // Room for no more than a pruned log keeps: a damaged history can list millions of entries that
    // read as nothing.
    result.records.reserve(std::min(records->size(), maximumRecords));
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < records->size(); ++i) {
        const nlohmann::json& record = (*records)[i];
        // Damaged records are told apart without an exception each, so that a history of many
        // of them still loads in time linear in its size.
        if (JsonCheck<ConnectionRecord>::fits(record)) {
            const JsonPath path;
            result.records.push_back(JsonReader(record, path).read<ConnectionRecord>());
        } else if (dropped++ == 0) {
            log.error("dropped unreadable history record %zu: %s", i, whyUnreadable(record).c_str());
        }
    }
    if (dropped > 1) {
        log.error("dropped %zu unreadable history records in all", dropped);
    }
    return result;
}

void ConnectionLog::insert(ConnectionRecord record, Date now) {
    records.insert(records.begin(), std::move(record));
    prune(now);
}

} // namespace velm
