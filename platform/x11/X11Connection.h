#pragma once

#include "platform/display/ScreenPoint.h"

#include <X11/Xlib.h>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace velm {

// One connection to the X server, used by one owner at a time (a service's X thread, or callers
// serialised by the owner's lock). Opening makes Xlib thread-safe first and installs handlers that
// log X errors instead of ending the process; a connection whose socket breaks is marked lost and
// every later request on it fails quietly.
class X11Connection {
public:
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Nothing when DISPLAY is unset or the server cannot be reached; the reason is logged once per
    // process ("x11"), since every component tries on its own.
    static std::unique_ptr<X11Connection> open();

    Display* display() const { return display_; }
    Window root() const { return root_; }
    int fileDescriptor() const { return ConnectionNumber(display_); }
    // True once the connection to the server broke; nothing more arrives on it.
    bool isLost() const { return lost_.load(); }
    // From any thread, as long as the connection lives: shuts the socket down, so that a call
    // waiting on the server fails at once and the connection is lost from then on.
    void breakOff() const;
    // Closes the display ahead of the destructor, on the thread that used it last (see there).
    void close();

    // The atom of a name, made when the server does not know it yet.
    Atom atom(const char* name) const { return XInternAtom(display_, name, False); }
    // The name of an atom, empty for an atom the server does not know.
    std::string atomName(Atom atom) const;
    // Where the pointer is on the root window; nothing when the server does not say.
    std::optional<ScreenPoint> pointerPosition() const;

private:
    explicit X11Connection(Display* display);

    static void handleBrokenConnection(Display* display, void* connection);

    Display* display_;
    Window root_;
    // A second descriptor of the socket: it stays open until the destructor, so breakOff never
    // reaches a descriptor number the process has since given to something else.
    int breakOffDescriptor_;
    std::atomic<bool> lost_{false};
    // Xlib keeps the display locked by the thread that met the broken connection: any other thread
    // that calls into it, closing included, waits for good.
    std::atomic<std::thread::id> lostOn_;
};

} // namespace velm
