#pragma once

#include "platform/x11/X11Connection.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace velm {

// A thread of its own around one X connection, for a service that watches X events: every Xlib
// call on the connection happens on this thread, in the tasks posted to it and in the event
// handler, so no two threads ever share the connection. The service keeps its X-side state here
// and hands results to its owner's queue.
class X11EventLoop {
public:
    using Task = std::function<void(X11Connection&)>;
    using EventHandler = std::function<void(X11Connection&, XEvent&)>;

    // Nothing when there is no X server to connect to.
    static std::unique_ptr<X11EventLoop> open(std::string name);

    // How long the way out waits for a thread held up in a call to the server before it breaks the
    // connection off.
    static constexpr std::chrono::seconds unansweredLimit{2};

    // Stops the thread and closes the connection; tasks not yet run are dropped. From the loop's
    // own thread (its last owner let go inside a task) the thread ends by itself after that task.
    ~X11EventLoop();
    X11EventLoop(const X11EventLoop&) = delete;
    X11EventLoop& operator=(const X11EventLoop&) = delete;

    // Called on the loop's thread for every event read.
    void setEventHandler(EventHandler handler);
    // Runs `task` on the loop's thread, after the tasks posted before it.
    void post(Task task);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    struct Core;

    explicit X11EventLoop(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
    std::thread thread_;
};

} // namespace velm
