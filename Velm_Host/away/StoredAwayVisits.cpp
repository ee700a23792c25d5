#include "Velm_Host/away/StoredAwayVisits.h"

#include "Velm_Host/core/BoundedText.h"
#include "platform/log/Log.h"
#include "protocol/json/Json.h"
#include "protocol/json/JsonCheck.h"
#include "protocol/json/JsonReader.h"

#include <string>

namespace velm {
namespace {

constexpr Log storedAwayVisitsLog("away");

} // namespace

std::optional<std::vector<AwayVisit>> StoredAwayVisits::read(const nlohmann::json& stored) const {
    // Texts that are not UTF-8 are replaced first: a visit holding one could never be saved again.
    const std::string text = stored.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto repaired = nlohmann::json::parse(text, nullptr, false);
    if (!repaired.is_array()) {
        return std::nullopt;
    }
    std::vector<AwayVisit> visits;
    std::size_t dropped = 0;
    for (const nlohmann::json& entry : repaired) {
        if (visits.size() == maxVisits) {
            break;
        }
        // A damaged visit costs only itself, told apart without an exception.
        if (!JsonCheck<AwayVisit>::fits(entry)) {
            ++dropped;
            continue;
        }
        const JsonPath path;
        AwayVisit visit = bounded(JsonReader(entry, path).read<AwayVisit>());
        if (visit.isOpen()) {
            visit.ended = visit.started;
        }
        visits.push_back(std::move(visit));
    }
    if (dropped > 0) {
        storedAwayVisitsLog.error("dropped %zu unreadable stored away visits", dropped);
    }
    return visits;
}

std::optional<nlohmann::json> StoredAwayVisits::form(const std::vector<AwayVisit>& visits) {
    const auto encoded = Json::tryEncode(visits);
    if (!encoded) {
        return std::nullopt;
    }
    auto value = nlohmann::json::parse(encoded->begin(), encoded->end(), nullptr, false);
    return value.is_discarded() ? std::nullopt : std::optional(std::move(value));
}

AwayVisit StoredAwayVisits::bounded(AwayVisit visit) const {
    visit.deviceID = boundedText(visit.deviceID, maxTextBytes);
    visit.deviceName = boundedText(visit.deviceName, maxTextBytes);
    if (visit.from) {
        visit.from = boundedText(*visit.from, maxTextBytes);
    }
    return visit;
}

} // namespace velm
