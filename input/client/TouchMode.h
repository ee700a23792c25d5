#pragma once

#include "protocol/json/RawEnum.h"

#include <array>
#include <optional>
#include <string_view>

namespace velm {

// How a finger drives the remote pointer: by relative movement like a laptop trackpad, or by going
// where the finger is on the picture.
enum class TouchMode { trackpad, direct };

inline constexpr std::array<TouchMode, 2> allTouchModes{TouchMode::trackpad, TouchMode::direct};

// The stored form, given by rawValue(mode).
template <> struct RawValues<TouchMode> {
    static constexpr std::string_view typeName = "TouchMode";
    static constexpr std::array<std::string_view, 2> names{"trackpad", "direct"};
};

inline std::optional<TouchMode> touchModeFromRawValue(std::string_view raw) {
    return fromRawValue<TouchMode>(raw);
}

std::string_view displayName(TouchMode mode);

} // namespace velm
