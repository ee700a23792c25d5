#include "Velm_Host/model/DisplaySession.h"

#include <string_view>

namespace velm {

DisplaySession DisplaySession::fromEnvironment(const std::function<const char*(const char*)>& variable) {
    const auto isSet = [&](const char* name) {
        const char* value = variable(name);
        return value != nullptr && value[0] != '\0';
    };
    const char* type = variable("XDG_SESSION_TYPE");
    return {.hasDisplay = isSet("DISPLAY"),
            .isWayland =
                (type != nullptr && std::string_view(type) == "wayland") || isSet("WAYLAND_DISPLAY")};
}

} // namespace velm
