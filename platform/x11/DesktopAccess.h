#pragma once

namespace velm {

// What this process may do on the desktop: play input back and read the screens. On X11 there is no
// per-program permission to ask for; both hold when the display accepts XTest and screen reads.
struct DesktopAccess {
    bool screenReading = false;
    bool inputInjection = false;

    // Asks the X server afresh, over a connection of its own; both false without a display.
    static DesktopAccess check();

    bool operator==(const DesktopAccess&) const = default;
};

} // namespace velm
