#pragma once

#include "protocol/json/RawEnum.h"

#include <array>
#include <optional>
#include <string_view>

namespace velm {

// How the remote picture is scaled into the client's view.
enum class ScalingMode { fit, fill, pixelPerfect };

inline constexpr std::array<ScalingMode, 3> allScalingModes{ScalingMode::fit, ScalingMode::fill,
                                                            ScalingMode::pixelPerfect};

// The stored form, given by rawValue(mode).
template <> struct RawValues<ScalingMode> {
    static constexpr std::string_view typeName = "ScalingMode";
    static constexpr std::array<std::string_view, 3> names{"fit", "fill", "pixelPerfect"};
};

inline std::optional<ScalingMode> scalingModeFromRawValue(std::string_view raw) {
    return fromRawValue<ScalingMode>(raw);
}

std::string_view displayName(ScalingMode mode);

} // namespace velm
