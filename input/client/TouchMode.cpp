#include "input/client/TouchMode.h"

namespace velm {

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
