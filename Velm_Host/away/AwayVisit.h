#pragma once

#include "platform/core/Date.h"
#include "platform/core/Uuid.h"
#include "protocol/json/JsonRecord.h"

#include <optional>
#include <string>

namespace velm {

// One stretch of time in which a paired device was connected from away. A quick reconnect continues
// the visit rather than starting another, so a visit may span several sessions. Open while `ended`
// is absent.
struct AwayVisit {
    Uuid id;
    std::string deviceID;
    // As the device's session reported it.
    std::string deviceName;
    // Where the device connected from.
    std::optional<std::string> from;
    Date started;
    std::optional<Date> ended;

    bool isOpen() const { return !ended.has_value(); }

    static void fields(auto& visit, auto&... self) {
        visit("id", self.id...);
        visit("deviceID", self.deviceID...);
        visit("deviceName", self.deviceName...);
        visit("from", self.from...);
        visit("started", self.started...);
        visit("ended", self.ended...);
    }

    friend bool operator==(const AwayVisit& a, const AwayVisit& b) { return fieldsEqual(a, b); }
};

} // namespace velm
