#pragma once

#include <functional>
#include <string_view>

namespace velm {

// The desktop session the host runs in, as its environment tells it. The host drives X11: on a Wayland
// session it reaches only the applications that run through XWayland, and its device grabs and shield
// windows cover nothing of the native ones, so a curtain there would hide nothing while saying it does.
struct DisplaySession {
    // Said once at start on a Wayland session.
    static constexpr std::string_view waylandNotice =
        "this is a Wayland session: Velm Host drives X11, so only applications that run through XWayland "
        "take its input, and the curtain is unavailable (it cannot cover Wayland's own windows)";

    bool hasDisplay = false; // DISPLAY names an X server
    bool isGone = false;     // DISPLAY names one that cannot be reached: then there is no display
    bool isWayland = false;  // XDG_SESSION_TYPE is "wayland", or WAYLAND_DISPLAY is set

    // `variable` reads the environment (null for an unset variable).
    static DisplaySession fromEnvironment(const std::function<const char*(const char*)>& variable);

    bool curtainCanCover() const { return hasDisplay && !isWayland; }
};

} // namespace velm
