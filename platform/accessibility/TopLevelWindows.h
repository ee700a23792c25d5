#pragma once

#include "platform/display/ScreenPoint.h"
#include "platform/display/ScreenRect.h"

#include <optional>

namespace velm {

class X11Connection;

// The desktop's top-level windows as X knows them, on the connection of whoever owns this (the
// accessibility thread): which one lies under a point or holds the keyboard focus, and whose it is.
class TopLevelWindows {
public:
    // A top-level window and the process that says it owns it (_NET_WM_PID).
    struct Window {
        unsigned long id = 0;
        long pid = 0;
        ScreenRect frame;
    };

    // Windows are searched this deep below a top-level one for the client that carries its owner
    // (a window manager's frame holds the client), and never more than this many.
    static constexpr int maxDepth = 3;
    static constexpr int maxWindows = 64;

    explicit TopLevelWindows(X11Connection& connection) : connection_(connection) {}

    // The topmost top-level window under a point.
    std::optional<unsigned long> at(ScreenPoint point);
    // A top-level window, when it names its owner.
    std::optional<Window> owned(unsigned long topLevel);
    // The window holding the keyboard focus, when it names its owner.
    std::optional<Window> focused();

private:
    std::optional<long> ownerPid(unsigned long window);

    X11Connection& connection_;
};

} // namespace velm
