#pragma once

#include <X11/Xlib.h>

namespace velm {

// Catches the X errors of the requests its owner makes on one thread while it exists, for requests
// that may fail in the ordinary course (a window that went away while we read its properties,
// shared memory the server cannot attach). Errors outside a trap are only logged.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to handle every request made so far; true when one of them failed.
    bool failed();

    // Called by the process-wide error handler; true when a trap on this thread took the error.
    static bool take(const XErrorEvent& error);

private:
    Display* display_;
    X11ErrorTrap* outer_;
    int errorCode_ = Success;
};

} // namespace velm
