#pragma once

#include "platform/display/ShieldWindows.h"

#include <memory>
#include <string>

namespace velm {

class X11EventLoop;

// Shields as X windows on a connection and thread of their own: override-redirect (no window manager
// moves, decorates or lowers them), black, with a label in the middle, and an empty input shape
// (XShape), so every click goes to the window below. Whenever another window is mapped, moved or
// restacked above them, or another client lowers one of them, they are raised again. They go with the
// connection, so they never outlive the process. Without a desktop nothing is shown.
class X11ShieldWindows final : public ShieldWindows {
public:
    // The label's size in pixels; it is drawn white at 55 % over the black.
    static constexpr double labelPixelSize = 22;

    static std::shared_ptr<X11ShieldWindows> make(std::string label);

    ~X11ShieldWindows() override;
    X11ShieldWindows(const X11ShieldWindows&) = delete;
    X11ShieldWindows& operator=(const X11ShieldWindows&) = delete;

    void cover(const std::vector<Monitor>& screens) override;
    void uncover() override;

private:
    struct LoopSide;

    X11ShieldWindows(std::unique_ptr<X11EventLoop> loop, std::shared_ptr<LoopSide> side);

    const std::unique_ptr<X11EventLoop> loop_;
    const std::shared_ptr<LoopSide> side_;
};

} // namespace velm
