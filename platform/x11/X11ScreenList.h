#pragma once

#include "platform/dispatch/Queue.h"
#include "platform/display/ScreenList.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

union _XEvent;

namespace velm {

class X11Connection;
class X11EventLoop;

// The screens from RandR on a connection and thread of their own. Changes of outputs and modes
// arrive as RandR events; virtual monitors (added with `xrandr --setmonitor`) send none, so while
// watching the list is also read again every `recheckInterval` on the owner's queue clock.
class X11ScreenList final : public ScreenList, public std::enable_shared_from_this<X11ScreenList> {
public:
    static constexpr std::chrono::seconds defaultRecheckInterval{2};
    static constexpr std::chrono::seconds firstReadLimit{5};

    // Reads the list once before returning. Without a desktop the list stays empty.
    static std::shared_ptr<X11ScreenList>
    make(std::shared_ptr<Queue> queue, Queue::Clock::duration recheckInterval = defaultRecheckInterval);

    ~X11ScreenList() override;

    std::vector<Monitor> monitors() const override;
    void setOnChange(ChangeHandler handler) override;
    void startWatching() override;
    void stopWatching() override;

private:
    X11ScreenList(std::shared_ptr<Queue> queue, Queue::Clock::duration recheckInterval);

    void readOnLoop(X11Connection& connection);
    void handleEvent(X11Connection& connection, _XEvent& event);
    void scheduleRecheck(std::uint64_t generation);
    void requestRead();

    const std::shared_ptr<Queue> queue_;
    const Queue::Clock::duration recheckInterval_;
    std::unique_ptr<X11EventLoop> loop_;
    int randrEventBase_ = -1;

    mutable std::mutex lock;
    std::vector<Monitor> monitors_;
    // Touched only on queue_.
    ChangeHandler onChange_;
    std::uint64_t generation_ = 0;
    bool watching_ = false;
};

} // namespace velm
