#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace velm {

// How a finger drives the remote pointer: by relative movement like a laptop trackpad, or by going
// where the finger is on the picture.
enum class TouchMode { trackpad, direct };

inline constexpr std::array<TouchMode, 2> allTouchModes{TouchMode::trackpad, TouchMode::direct};

// The stored form: "trackpad", "direct".
std::string_view rawValue(TouchMode mode);
std::optional<TouchMode> touchModeFromRawValue(std::string_view raw);

std::string_view displayName(TouchMode mode);

} // namespace velm
