#include "platform/accessibility/TopLevelWindows.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11PropertyReply.h"

#include <X11/Xatom.h>
#include <deque>
#include <utility>

namespace velm {
namespace {

// The children of a window, bottom-most first; empty when it is gone.
std::vector<::Window> childrenOf(Display* display, ::Window window) {
    X11ErrorTrap trap(display);
    ::Window root = None;
    ::Window parent = None;
    ::Window* children = nullptr;
    unsigned int count = 0;
    std::vector<::Window> result;
    if (XQueryTree(display, window, &root, &parent, &children, &count) && !trap.failed()) {
        result.assign(children, children + count);
    }
    if (children) {
        XFree(children);
    }
    return result;
}

std::optional<::Window> parentOf(Display* display, ::Window window) {
    X11ErrorTrap trap(display);
    ::Window root = None;
    ::Window parent = None;
    ::Window* children = nullptr;
    unsigned int count = 0;
    const bool ok = XQueryTree(display, window, &root, &parent, &children, &count) && !trap.failed();
    if (children) {
        XFree(children);
    }
    return ok ? std::optional(parent) : std::nullopt;
}

std::optional<ScreenRect> frameOf(Display* display, ::Window window) {
    X11ErrorTrap trap(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || trap.failed()) {
        return std::nullopt;
    }
    const int border = attributes.border_width;
    return ScreenRect{attributes.x, attributes.y, attributes.width + 2 * border,
                      attributes.height + 2 * border};
}

} // namespace

std::optional<unsigned long> TopLevelWindows::at(ScreenPoint point) {
    Display* display = connection_.display();
    X11ErrorTrap trap(display);
    int x = 0;
    int y = 0;
    ::Window child = None;
    const ::Window root = connection_.root();
    if (!XTranslateCoordinates(display, root, root, point.x, point.y, &x, &y, &child) || trap.failed() ||
        child == None) {
        return std::nullopt;
    }
    return child;
}

std::optional<TopLevelWindows::Window> TopLevelWindows::focused() {
    Display* display = connection_.display();
    ::Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const ::Window root = connection_.root();
    if (focus == None || focus == PointerRoot || focus == root) {
        return std::nullopt;
    }
    // Up to the child of the root window that holds the focused one.
    for (int step = 0; step < maxWindows; ++step) {
        const auto parent = parentOf(display, focus);
        if (!parent || *parent == None) {
            return std::nullopt;
        }
        if (*parent == root) {
            return owned(focus);
        }
        focus = *parent;
    }
    return std::nullopt;
}

std::optional<TopLevelWindows::Window> TopLevelWindows::owned(unsigned long topLevel) {
    Display* display = connection_.display();
    const auto frame = frameOf(display, topLevel);
    if (!frame) {
        return std::nullopt;
    }
    // Breadth first: the client of a window manager's frame lies just below it.
    std::deque<std::pair<::Window, int>> pending{{topLevel, 0}};
    for (int visited = 0; !pending.empty() && visited < maxWindows; ++visited) {
        const auto [window, depth] = pending.front();
        pending.pop_front();
        if (const auto pid = ownerPid(window)) {
            return Window{topLevel, *pid, *frame};
        }
        if (depth < maxDepth) {
            for (const ::Window child : childrenOf(display, window)) {
                pending.emplace_back(child, depth + 1);
            }
        }
    }
    return std::nullopt;
}

std::optional<long> TopLevelWindows::ownerPid(unsigned long window) {
    Display* display = connection_.display();
    X11ErrorTrap trap(display);
    X11PropertyReply reply;
    const int status =
        XGetWindowProperty(display, window, connection_.atom("_NET_WM_PID"), 0, 1, False, XA_CARDINAL,
                           &reply.type, &reply.format, &reply.count, &reply.remaining, &reply.data);
    std::optional<long> pid;
    if (status == Success && !trap.failed() && reply.holds(XA_CARDINAL, 32) && reply.count == 1) {
        const long value = *reinterpret_cast<const long*>(reply.data);
        if (value > 0 && value <= 0x7FFFFFFF) {
            pid = value;
        }
    }
    return pid;
}

} // namespace velm
