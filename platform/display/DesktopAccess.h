#pragma once

namespace velm {

// What this process may do on the desktop: play input back and read the screens.
struct DesktopAccess {
    bool screenReading = false;
    bool inputInjection = false;

    bool operator==(const DesktopAccess&) const = default;
};

} // namespace velm
