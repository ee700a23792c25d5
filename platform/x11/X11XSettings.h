#pragma once

#include "platform/x11/XSettings.h"

#include <optional>

namespace velm {

// What the display's settings manager (GNOME's, Xfce's, xsettingsd, ...) publishes to X
// applications, read on a connection of its own for each call.
class X11XSettings {
public:
    // Nothing without a display, when no settings manager owns the default screen's XSETTINGS
    // selection, or when what it published cannot be read.
    static std::optional<XSettings> read();
};

} // namespace velm
