#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace velm {

// How the remote picture is scaled into the client's view.
enum class ScalingMode { fit, fill, pixelPerfect };

inline constexpr std::array<ScalingMode, 3> allScalingModes{ScalingMode::fit, ScalingMode::fill,
                                                            ScalingMode::pixelPerfect};

// The stored form: "fit", "fill", "pixelPerfect".
std::string_view rawValue(ScalingMode mode);
std::optional<ScalingMode> scalingModeFromRawValue(std::string_view raw);

std::string_view displayName(ScalingMode mode);

} // namespace velm
