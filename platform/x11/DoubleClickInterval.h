#pragma once

#include <chrono>

namespace velm {

// The desktop's double-click interval: a second click within it makes a double click. Read anew for
// each session, so that a change the user made in between applies.
class DoubleClickInterval {
public:
    // A value outside this range is taken for damage, and the next source is asked.
    static constexpr std::chrono::milliseconds shortest{1};
    static constexpr std::chrono::milliseconds longest{10'000};

    // In seconds: GNOME's setting when its schema is installed, else the Net/DoubleClickTime that the
    // display's settings manager publishes (XSETTINGS), else X11InputSink::defaultDoubleClickInterval.
    static double ofDesktop();
};

} // namespace velm
