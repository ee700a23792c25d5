#include "platform/x11/X11Connection.h"

#include "platform/log/Log.h"
#include "platform/x11/X11ErrorTrap.h"

#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace velm {
namespace {

const Log x11ConnectionLog("x11");

int logError(Display*, XErrorEvent* error) {
    if (!X11ErrorTrap::take(*error)) {
        x11ConnectionLog.debug("x11 error %d (request %d.%d)", int(error->error_code),
                               int(error->request_code), int(error->minor_code));
    }
    return 0;
}

// Xlib calls this on a broken connection and then exits unless a per-display exit handler
// returns; ours does, after which the connection reports itself lost.
int logBrokenConnection(Display*) {
    x11ConnectionLog.error("the connection to the x server broke");
    return 0;
}

void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(logError);
        XSetIOErrorHandler(logBrokenConnection);
    });
}

constexpr int openAttempts = 3;
constexpr std::chrono::milliseconds retryDelay{50};

void logOnce(const char* reason) {
    static std::once_flag once;
    std::call_once(once, [reason] { x11ConnectionLog.info("no desktop: %s", reason); });
}

} // namespace

X11Connection::X11Connection(Display* display)
    : display_(display), root_(DefaultRootWindow(display)),
      breakOffDescriptor_(fcntl(ConnectionNumber(display), F_DUPFD_CLOEXEC, 0)) {
    XSetIOErrorExitHandler(display_, &X11Connection::handleBrokenConnection, this);
}

X11Connection::~X11Connection() {
    if (display_ && lost_ && lostOn_.load() != std::this_thread::get_id()) {
        // Closing would wait for good on the lock Xlib keeps for the thread that met the break: the
        // display is left behind, its socket closed.
        x11ConnectionLog.info("a broken x connection is left unclosed: another thread met the break");
        ::close(ConnectionNumber(display_));
#if defined(__SANITIZE_ADDRESS__)
        __lsan_ignore_object(display_);
#endif
        display_ = nullptr;
    }
    close();
    if (breakOffDescriptor_ >= 0) {
        ::close(breakOffDescriptor_);
    }
}

void X11Connection::close() {
    if (display_) {
        XCloseDisplay(std::exchange(display_, nullptr));
    }
}

std::unique_ptr<X11Connection> X11Connection::open() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        logOnce("DISPLAY is not set");
        return nullptr;
    }
    prepareXlib();
    // A busy server refuses a new client now and then while it still clears closed ones away.
    Display* display = XOpenDisplay(name);
    for (int attempt = 1; !display && attempt < openAttempts; ++attempt) {
        std::this_thread::sleep_for(retryDelay);
        display = XOpenDisplay(name);
    }
    if (!display) {
        logOnce("the x server cannot be reached");
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

std::string X11Connection::atomName(Atom atom) const {
    if (atom == None) {
        return {};
    }
    X11ErrorTrap trap(display_);
    char* name = XGetAtomName(display_, atom);
    if (!name) {
        return {};
    }
    std::string result(name);
    XFree(name);
    return result;
}

std::optional<ScreenPoint> X11Connection::pointerPosition() const {
    Window root = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display_, root_, &root, &child, &rootX, &rootY, &windowX, &windowY, &mask)) {
        return std::nullopt;
    }
    return ScreenPoint{rootX, rootY};
}

void X11Connection::breakOff() const {
    shutdown(breakOffDescriptor_, SHUT_RDWR);
}

void X11Connection::handleBrokenConnection(Display*, void* connection) {
    auto* self = static_cast<X11Connection*>(connection);
    self->lostOn_ = std::this_thread::get_id();
    self->lost_ = true;
}

} // namespace velm
