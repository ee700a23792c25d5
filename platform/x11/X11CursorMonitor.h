#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/display/CursorMonitor.h"

#include <memory>
#include <mutex>

union _XEvent;

namespace velm {

class X11Connection;
class X11EventLoop;

// The cursor from XFixes (XFixesGetCursorImage, cursor-change events) on a connection and thread
// of its own. A pointer larger than `maxSide` on a side is kept scaled down to fit, with its aspect; the
// picture then remembers the size the pointer is shown at.
class X11CursorMonitor final : public CursorMonitor, public std::enable_shared_from_this<X11CursorMonitor> {
public:
    static constexpr int maxSide = 256;

    // Reads the current picture once before returning.
    static std::shared_ptr<X11CursorMonitor> make(std::shared_ptr<Queue> queue);
    ~X11CursorMonitor() override;

    std::optional<CursorImage> current() const override;
    void setOnChange(ChangeHandler handler) override;
    void startWatching() override;
    void stopWatching() override;

private:
    explicit X11CursorMonitor(std::shared_ptr<Queue> queue);

    void handleEvent(X11Connection& connection, _XEvent& event);
    void readOnLoop(X11Connection& connection);

    const std::shared_ptr<Queue> queue_;
    std::unique_ptr<X11EventLoop> loop_;
    int eventBase_ = -1;

    mutable std::mutex lock;
    std::optional<CursorImage> current_;
    // Touched only on queue_.
    ChangeHandler onChange_;
    bool watching_ = false;
};

} // namespace velm
