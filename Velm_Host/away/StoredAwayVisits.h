#pragma once

#include "Velm_Host/away/AwayVisit.h"

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace velm {

// The away visits as the settings keep them. Any program of the user may have written that file, so
// what is read is hostile: texts are cut to `maxTextBytes`, the list to `maxVisits`, and a visit left
// open by a host that stopped is closed where it began, its true end being unknown.
struct StoredAwayVisits {
    std::size_t maxVisits = 0;
    std::size_t maxTextBytes = 0;

    // Nothing when the stored value is not a list; a visit in it that does not read is left out.
    std::optional<std::vector<AwayVisit>> read(const nlohmann::json& stored) const;
    // Nothing when a visit holds what JSON cannot (a text that is not UTF-8).
    static std::optional<nlohmann::json> form(const std::vector<AwayVisit>& visits);

    // A visit's texts, from a device, cut to what is kept.
    AwayVisit bounded(AwayVisit visit) const;
};

} // namespace velm
