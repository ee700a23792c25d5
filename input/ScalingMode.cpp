#include "input/ScalingMode.h"

namespace velm {

std::string_view rawValue(ScalingMode mode) {
    switch (mode) {
    case ScalingMode::fit:
        return "fit";
    case ScalingMode::fill:
        return "fill";
    case ScalingMode::pixelPerfect:
        return "pixelPerfect";
    }
    return {};
}

std::optional<ScalingMode> scalingModeFromRawValue(std::string_view raw) {
    for (ScalingMode mode : allScalingModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

std::string_view displayName(ScalingMode mode) {
    switch (mode) {
    case ScalingMode::fit:
        return "Fit";
    case ScalingMode::fill:
        return "Fill";
    case ScalingMode::pixelPerfect:
        return "Pixel Perfect";
    }
    return {};
}

} // namespace velm
