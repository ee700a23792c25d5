#include "input/client/ScalingMode.h"

namespace velm {

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
