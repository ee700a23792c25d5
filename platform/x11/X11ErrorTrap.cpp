#include "platform/x11/X11ErrorTrap.h"

namespace velm {
namespace {

thread_local X11ErrorTrap* innermost = nullptr;

} // namespace

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display), outer_(innermost) {
    // Errors of requests made before the trap belong to whoever made them.
    XSync(display_, False);
    innermost = this;
}

X11ErrorTrap::~X11ErrorTrap() {
    XSync(display_, False);
    innermost = outer_;
}

bool X11ErrorTrap::failed() {
    XSync(display_, False);
    return errorCode_ != Success;
}

bool X11ErrorTrap::take(const XErrorEvent& error) {
    if (!innermost || innermost->display_ != error.display) {
        return false;
    }
    innermost->errorCode_ = error.error_code;
    return true;
}

} // namespace velm
