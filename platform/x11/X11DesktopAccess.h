#pragma once

#include "platform/display/DesktopAccess.h"

namespace velm {

// On X11 there is no per-program permission to ask for: both hold when the display accepts XTest and
// screen reads.
struct X11DesktopAccess {
    // Asks the X server afresh, over a connection of its own; both false without a display.
    static DesktopAccess check();
    // Whether the display the environment names takes a connection at all: one that is named but gone
    // (its server ended) is no desktop to run on.
    static bool isReachable();
};

} // namespace velm
