#pragma once

#include "platform/display/WindowList.h"

#include <memory>
#include <mutex>

namespace velm {

class X11Connection;

// _NET_CLIENT_LIST with each window's _NET_WM_PID and WM_CLASS, on a connection of its own. The
// properties come from other clients: at most `maxWindows` windows and `maxClassBytes` of class
// names each are read, and windows that vanish meanwhile are passed over.
class X11WindowList final : public WindowList {
public:
    static constexpr long maxWindows = 1024;
    static constexpr long maxClassBytes = 512;

    X11WindowList();
    ~X11WindowList() override;

    std::vector<WindowOwner> owners() override;

private:
    std::mutex lock;
    std::unique_ptr<X11Connection> connection_;
};

} // namespace velm
