#include "input/TouchMode.h"

namespace velm {

std::string_view rawValue(TouchMode mode) {
    switch (mode) {
    case TouchMode::trackpad:
        return "trackpad";
    case TouchMode::direct:
        return "direct";
    }
    return {};
}

std::optional<TouchMode> touchModeFromRawValue(std::string_view raw) {
    for (TouchMode mode : allTouchModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

std::string_view displayName(TouchMode mode) {
    switch (mode) {
    case TouchMode::trackpad:
        return "Trackpad";
    case TouchMode::direct:
        return "Direct Touch";
    }
    return {};
}

} // namespace velm
