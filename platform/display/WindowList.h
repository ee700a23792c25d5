#pragma once

#include "platform/display/WindowOwner.h"

#include <vector>

namespace velm {

// The desktop's application windows.
class WindowList {
public:
    virtual ~WindowList() = default;

    // The owners of the windows the window manager lists, in its order; empty without a desktop
    // or a window manager.
    virtual std::vector<WindowOwner> owners() = 0;
};

} // namespace velm
