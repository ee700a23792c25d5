#pragma once

#include <string>

namespace velm {

// Who a top-level window belongs to, as the window says of itself.
struct WindowOwner {
    // _NET_WM_PID, 0 when absent.
    long pid = 0;
    // WM_CLASS: the instance and class names.
    std::string instanceName;
    std::string className;
};

} // namespace velm
