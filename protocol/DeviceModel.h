#pragma once

#include "platform/system/MachineFirmware.h"
#include "protocol/json/JsonRecord.h"

#include <cstddef>
#include <optional>
#include <string>

namespace velm {

// What kind of machine a device is: its model identifier ("MacBookPro18,1", "iPad13,4") and,
// when known, a product name for people.
struct DeviceModel {
    // The most bytes kept of a firmware text: the host advertises its model in entries of at most
    // 255 bytes, key included, and firmware can hold anything up to a page.
    static constexpr std::size_t maxFirmwareTextBytes = 240;

    std::string identifier;
    std::optional<std::string> name;

    // This computer's model, read from the firmware once, on first use, and kept.
    static const DeviceModel& current();

    // This computer's model as the firmware describes it: the identifier is the DMI product name
    // (else the device-tree model, else "Mac"); the name is the DMI product family (else the
    // device-tree model, else absent).
    static DeviceModel fromFirmware(const MachineFirmware& firmware);

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
