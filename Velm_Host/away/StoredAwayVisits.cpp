#include "Velm_Host/away/StoredAwayVisits.h"

#include "Velm_Host/core/BoundedText.h"
#include "protocol/json/Json.h"

#include <string>
#include <string_view>

namespace velm {

std::optional<std::vector<AwayVisit>> StoredAwayVisits::read(const nlohmann::json& stored) const {
    const std::string text = stored.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    auto visits = Json::tryDecode<std::vector<AwayVisit>>(std::string_view(text));
    if (!visits) {
        return std::nullopt;
    }
    if (visits->size() > maxVisits) {
        visits->resize(maxVisits);
    }
    for (AwayVisit& visit : *visits) {
        visit = bounded(std::move(visit));
        if (visit.isOpen()) {
            visit.ended = visit.started;
        }
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
