#include "platform/x11/X11EventLoop.h"

#include "platform/log/Log.h"

#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace velm {
namespace {

const Log log("x11");

} // namespace

// Everything the thread touches; the thread holds it, so it outlives a loop destroyed from inside.
struct X11EventLoop::Core {
    Core(std::unique_ptr<X11Connection> openConnection, std::string threadName)
        : connection(std::move(openConnection)), name(std::move(threadName)),
          wakeDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~Core() {
        if (wakeDescriptor >= 0) {
            close(wakeDescriptor);
        }
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeDescriptor, &one, sizeof one);
    }

    void run() {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        while (runTasks()) {
            handleEvents();
            if (connection->isLost()) {
                log.error("%s: the x server went away", name.c_str());
                return;
            }
            // Events Xlib already read into its queue show no activity on the socket.
            if (XPending(connection->display()) > 0) {
                continue;
            }
            pollfd descriptors[2] = {{connection->fileDescriptor(), POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
            if (poll(descriptors, 2, -1) < 0 && errno != EINTR) {
                log.error("%s: poll failed (%d)", name.c_str(), errno);
                return;
            }
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = read(wakeDescriptor, &count, sizeof count);
        }
    }

    bool runTasks() {
        while (true) {
            Task task;
            {
                std::lock_guard guard(lock);
                if (stopping) {
                    return false;
                }
                if (tasks.empty()) {
                    return true;
                }
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task(*connection);
            XFlush(connection->display());
        }
    }

    void handleEvents() {
        Display* display = connection->display();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            EventHandler current;
            {
                std::lock_guard guard(lock);
                if (stopping) {
                    return;
                }
                current = handler;
            }
            if (current) {
                current(*connection, event);
            }
        }
    }

    const std::unique_ptr<X11Connection> connection;
    const std::string name;
    const int wakeDescriptor;
    std::mutex lock;
    EventHandler handler;
    std::deque<Task> tasks;
    bool stopping = false;
};

std::unique_ptr<X11EventLoop> X11EventLoop::open(std::string name) {
    auto connection = X11Connection::open();
    if (!connection) {
        return nullptr;
    }
    auto core = std::make_shared<Core>(std::move(connection), std::move(name));
    if (core->wakeDescriptor < 0) {
        log.error("%s: no wake-up descriptor (%d)", core->name.c_str(), errno);
        return nullptr;
    }
    return std::unique_ptr<X11EventLoop>(new X11EventLoop(std::move(core)));
}

X11EventLoop::X11EventLoop(std::shared_ptr<Core> core)
    : core_(core), thread_([core = std::move(core)] { core->run(); }) {}

X11EventLoop::~X11EventLoop() {
    // Released outside the lock: what they hold may post on its way out.
    std::deque<Task> dropped;
    EventHandler handler;
    {
        std::lock_guard guard(core_->lock);
        core_->stopping = true;
        dropped.swap(core_->tasks);
        handler.swap(core_->handler);
    }
    core_->wake();
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void X11EventLoop::setEventHandler(EventHandler handler) {
    std::lock_guard guard(core_->lock);
    core_->handler = std::move(handler);
}

void X11EventLoop::post(Task task) {
    {
        std::lock_guard guard(core_->lock);
        if (core_->stopping) {
            return;
        }
        core_->tasks.push_back(std::move(task));
    }
    core_->wake();
}

} // namespace velm
