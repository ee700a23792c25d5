#pragma once

#include <QIcon>
#include <QImage>

namespace velm {

// The tray's picture of the host: a display, with an arrow into it while a device is connected. Drawn
// here rather than taken from the icon theme, so it is the same on every desktop and there is always
// one; a dark rim keeps the light lines readable on light and dark panels alike.
class MenuBarIcon {
public:
    static QIcon icon(bool connected);
    // One size of it, `side` pixels square.
    static QImage image(bool connected, int side);
};

} // namespace velm
