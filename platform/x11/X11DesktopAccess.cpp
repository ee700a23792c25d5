#include "platform/x11/X11DesktopAccess.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace velm {

DesktopAccess X11DesktopAccess::check() {
    const auto connection = X11Connection::open();
    if (!connection) {
        return {};
    }
    Display* display = connection->display();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    DesktopAccess access;
    access.inputInjection = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == True;
    X11ErrorTrap trap(display);
    if (XImage* pixel = XGetImage(display, connection->root(), 0, 0, 1, 1, AllPlanes, ZPixmap)) {
        XDestroyImage(pixel);
        access.screenReading = true;
    }
    access.screenReading = access.screenReading && !trap.failed();
    return access;
}

bool X11DesktopAccess::isReachable() {
    return X11Connection::open() != nullptr;
}

} // namespace velm
