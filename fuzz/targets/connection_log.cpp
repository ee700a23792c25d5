// The stored history: read record by record, the quick check agreeing with the decoder on every
// record, and what was read stored and read back unchanged.
#include "fuzz/Target.h"
#include "protocol/ConnectionLog.h"
#include "protocol/json/Json.h"
#include "protocol/json/JsonCheck.h"

#include <cstdlib>

namespace velm::fuzz {
namespace {

bool decodes(const nlohmann::json& record) {
    try {
        const JsonPath path;
        JsonReader(record, path).read<ConnectionRecord>();
        return true;
    } catch (const JsonError&) {
        return false;
    }
}

} // namespace

std::vector<Bytes> seeds() {
    ConnectionLog log;
    const Uuid first = log.begin(ConnectionRecord::Kind::session, "DEVICE-1", "iPad",
                                 ConnectionRecord::Route::home, "192.0.2.4", true, Date(788918400));
    log.end(first, ConnectionRecord::Ending::disconnected, Date(788918500));
    log.begin(ConnectionRecord::Kind::file, "DEVICE-2", "iPhone", ConnectionRecord::Route::elsewhere,
              std::nullopt, false, Date(788918600));
    log.recordRefusal(ConnectionRecord::Refusal::keyDidNotMatch, "DEVICE-3", "Tablet",
                      ConnectionRecord::Route::door, "203.0.113.9", true, Date(788918700));
    Bytes stored = *log.storedForm();
    Bytes damaged = stored;
    damaged[damaged.size() / 2] = '"';
    return {stored, damaged};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    const ByteView stored(data, size);
    const ConnectionLog log = ConnectionLog::fromStoredForm(stored);
    try {
        const nlohmann::json root = Json::parse(stored);
        const auto records = root.is_object() ? root.find("records") : root.end();
        if (records != root.end() && records->is_array()) {
            for (const auto& record : *records) {
                if (JsonCheck<ConnectionRecord>::fits(record) != velm::fuzz::decodes(record)) {
                    std::abort();
                }
            }
        }
    } catch (const JsonError&) {
        // not JSON at all
    }
    const auto again = log.storedForm();
    if (!again || !(ConnectionLog::fromStoredForm(*again) == log)) {
        std::abort();
    }
}

} // namespace velm::fuzz
