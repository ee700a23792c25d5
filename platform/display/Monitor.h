#pragma once

#include "platform/display/ScreenRect.h"

#include <cstdint>
#include <optional>
#include <string>

namespace velm {

// One screen of the desktop, as RandR lists its monitors. X has one scale, so pixels are points.
struct Monitor {
    // Stable for the monitor's name (an output such as "HDMI-1", or a virtual monitor's name), so the
    // same screen keeps its number across changes and restarts; never zero.
    std::uint32_t id = 0;
    // The product name from the EDID of its first output, else the monitor's name.
    std::string name;
    ScreenRect frame;
    // The primary monitor; when none is primary, the first one backed by an output (else the first).
    bool isMain = false;
    // Its first output is a panel of the computer itself (eDP, LVDS, DSI).
    bool isBuiltIn = false;
    // The EDID's manufacturer number, when the output has an EDID.
    std::optional<std::uint16_t> vendor;
    // Of the current mode, when the server knows it (a virtual screen has none).
    std::optional<double> refreshRate;

    friend bool operator==(const Monitor&, const Monitor&) = default;
};

} // namespace velm
