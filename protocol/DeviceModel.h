#pragma once

#include "protocol/json/JsonRecord.h"

#include <functional>
#include <optional>
#include <string>

namespace velm {

// What kind of machine a device is: its model identifier ("MacBookPro18,1", "iPad13,4") and,
// when known, a product name for people.
struct DeviceModel {
    std::string identifier;
    std::optional<std::string> name;

    // Reads one firmware file by path, or gives nothing when it cannot be read.
    using FirmwareReader = std::function<std::optional<std::string>(const std::string& path)>;

    // This computer's model, read from the firmware once, on first use, and kept.
    static const DeviceModel& current();

    // This computer's model as the firmware describes it: the identifier is the DMI product name
    // (else the device-tree model, else "Mac"); the name is the DMI product family (else the
    // device-tree model, else absent).
    static DeviceModel fromFirmware(const FirmwareReader& read);

    // A name to show: the name when it is not empty, else the marketing name of a known tablet,
    // else "iPad", "iPhone" or "Mac" by the identifier's beginning.
    std::string displayName() const;

    static void fields(auto& visit, auto&... self) {
        visit("identifier", self.identifier...);
        visit("name", self.name...);
    }

    friend bool operator==(const DeviceModel& a, const DeviceModel& b) { return fieldsEqual(a, b); }
};

} // namespace velm
