#pragma once

#include "protocol/json/RawEnum.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// The outline in which a device is drawn.
enum class DeviceShape {
    display, // anything not recognised
    macMini,
    macStudio,
    macPro,
    macBook,
    iMac,
    iPad, // neither professional nor with a home button
    iPadPro,
    iPadHomeButton,
    iPhone, // a phone, or an iPod
};

template <> struct RawValues<DeviceShape> {
    static constexpr std::string_view typeName = "DeviceShape";
    static constexpr std::array<std::string_view, 10> names{
        "display", "macMini", "macStudio", "macPro",         "macBook",
        "iMac",    "iPad",    "iPadPro",   "iPadHomeButton", "iPhone",
    };
};

// The shape of a device with this model identifier and product name (absent counts as empty);
// every model gets one. Callers pass a DeviceModel's two fields.
DeviceShape deviceShape(std::string_view identifier, const std::optional<std::string>& name);

} // namespace velm
