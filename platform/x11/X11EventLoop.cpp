#include "platform/x11/X11EventLoop.h"

#include "platform/dispatch/ThreadInbox.h"
#include "platform/log/Log.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <pthread.h>

namespace velm {
namespace {

const Log x11EventLoopLog("x11");

} // namespace

// Everything the thread touches; the thread holds it, so it outlives a loop destroyed from inside.
struct X11EventLoop::Core {
    Core(std::unique_ptr<X11Connection> openConnection, std::string threadName)
        : connection(std::move(openConnection)), name(std::move(threadName)) {}

    void run() {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        while (inbox.runTasks()) {
            handleEvents();
            if (connection->isLost()) {
                x11EventLoopLog.error("%s: the x server went away", name.c_str());
                return;
            }
            // Events Xlib already read into its queue show no activity on the socket.
            if (XPending(connection->display()) > 0) {
                continue;
            }
            if (!inbox.wait({connection->fileDescriptor(), POLLIN, 0}, -1)) {
                x11EventLoopLog.error("%s: poll failed (%d)", name.c_str(), errno);
                return;
            }
        }
    }

    void handleEvents() {
        Display* display = connection->display();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (inbox.isClosed()) {
                return;
            }
            EventHandler current;
            {
                std::lock_guard guard(lock);
                current = handler;
            }
            if (current) {
                current(*connection, event);
            }
        }
    }

    void markEnded() {
        {
            std::lock_guard guard(lock);
            ended = true;
        }
        endedSignal.notify_all();
    }

    bool waitForEnd(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock);
        return endedSignal.wait_for(guard, limit, [this] { return ended; });
    }

    const std::unique_ptr<X11Connection> connection;
    const std::string name;
    std::mutex lock;
    EventHandler handler;
    std::condition_variable endedSignal;
    bool ended = false;
    ThreadInbox inbox;
};

std::unique_ptr<X11EventLoop> X11EventLoop::open(std::string name) {
    auto connection = X11Connection::open();
    if (!connection) {
        return nullptr;
    }
    auto core = std::make_shared<Core>(std::move(connection), std::move(name));
    if (!core->inbox.isUsable()) {
        x11EventLoopLog.error("%s: no wake-up descriptor (%d)", core->name.c_str(), errno);
        return nullptr;
    }
    return std::unique_ptr<X11EventLoop>(new X11EventLoop(std::move(core)));
}

X11EventLoop::X11EventLoop(std::shared_ptr<Core> core)
    : core_(core), thread_([core = std::move(core)] {
          core->run();
          // Here, where every call on the connection was made: see X11Connection.
          core->connection->close();
          core->markEnded();
      }) {}

X11EventLoop::~X11EventLoop() {
    // Released after the thread ends, outside the lock: what it holds may post on its way out.
    EventHandler handler;
    {
        std::lock_guard guard(core_->lock);
        handler.swap(core_->handler);
    }
    core_->inbox.close();
    // A server that stopped answering holds the thread in an Xlib call for good; breaking the
    // connection off under it makes that call fail, so the owner's way out is bounded.
    if (!isCurrent() && !core_->waitForEnd(unansweredLimit)) {
        x11EventLoopLog.error("%s: the x server does not answer: leaving it", core_->name.c_str());
        core_->connection->breakOff();
    }
    core_->inbox.closeAndJoin(thread_);
}

void X11EventLoop::setEventHandler(EventHandler handler) {
    std::lock_guard guard(core_->lock);
    core_->handler = std::move(handler);
}

void X11EventLoop::post(Task task) {
    // The tasks reach the connection only while the core lives: the core holds them.
    core_->inbox.post([connection = core_->connection.get(), task = std::move(task)] {
        task(*connection);
        XFlush(connection->display());
    });
}

} // namespace velm
