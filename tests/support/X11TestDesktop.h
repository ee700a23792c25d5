#pragma once

#include "platform/display/ScreenPoint.h"
#include "platform/display/ScreenRect.h"
#include "platform/image/Image.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _XDisplay;

namespace velm::test {

// Another client on the test X server: what the user and other applications do to the desktop.
// Tests that use it run only under scripts/x11-sandbox.sh (VELM_TEST_X11), never on a real desktop.
class X11TestDesktop {
public:
    // Xlib's Window and Atom, without Xlib's macros in every test that includes this.
    using Window = unsigned long;
    using Atom = unsigned long;

    // Nothing (and `reason` says why) outside the sandbox or when the server cannot be reached.
    static std::unique_ptr<X11TestDesktop> open(std::string& reason);
    ~X11TestDesktop();
    X11TestDesktop(const X11TestDesktop&) = delete;
    X11TestDesktop& operator=(const X11TestDesktop&) = delete;

    _XDisplay* display() const { return display_; }
    Window root() const;
    Atom atom(const char* name) const;

    // Moves the pointer as the user's mouse would (XTest).
    void movePointer(int x, int y);
    // Where the pointer is now.
    ScreenPoint pointerPosition() const;
    // Paints a rectangle straight onto the root window; `rgb` as 0xRRGGBB.
    void fill(const ScreenRect& rect, std::uint32_t rgb);
    // Gives the root window one of the X cursor font's shapes (XC_... numbers).
    void setRootCursor(unsigned int shape);
    // Gives the root window a pointer drawn from a straight rgba picture (XRender), as cursor themes
    // and large accessibility pointers are.
    void setRootCursor(const Image& picture, int hotSpotX, int hotSpotY);
    // A mapped window of the given size with WM_CLASS and _NET_WM_PID set.
    Window makeWindow(const std::string& wmClass, long pid);
    // Stands in for a window manager's list of managed windows; an empty list removes it.
    void setClientList(const std::vector<Window>& windows);

    // Runs a command with the sandbox's environment; true when it exits with 0.
    static bool run(const std::string& command);
    // A connection of its own to the sandbox's server, or null.
    static _XDisplay* openDisplay();

private:
    explicit X11TestDesktop(_XDisplay* display) : display_(display) {}

    _XDisplay* display_;
};

} // namespace velm::test
