#pragma once

#include "platform/display/Monitor.h"

#include <vector>

namespace velm {

class X11Connection;

// Reads RandR's list of monitors (virtual ones included) with what each monitor's first output
// tells: its name, EDID and the refresh rate of its mode.
namespace RandrMonitors {

// True when the server speaks RandR 1.5 or later, which lists monitors.
bool isAvailable(X11Connection& connection);

// The monitors, at most `maxMonitors`; without RandR 1.5, one monitor covering the root window.
std::vector<Monitor> read(X11Connection& connection);

// The stable number of a monitor's name (FNV-1a), never zero.
std::uint32_t idForName(const std::string& name);

inline constexpr std::size_t maxMonitors = 64;

} // namespace RandrMonitors

} // namespace velm
