#include "platform/desktop/GioApplicationLauncher.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <asio/posix/stream_descriptor.hpp>
#include <cerrno>
#include <gio/gdesktopappinfo.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

const Log gioApplicationLauncherLog("apps");

using Descriptor = asio::posix::stream_descriptor;

struct LaunchObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// Runs in the child between fork and exec. What a device starts belongs to the person at the computer:
// in a session of its own, a Ctrl+C or a hang-up aimed at the host (its terminal, its process group)
// does not end it along with the host.
void leaveHostsSession(gpointer) {
    setsid();
}

void collectPid(GDesktopAppInfo*, GPid pid, gpointer pids) {
    static_cast<std::vector<int>*>(pids)->push_back(pid);
}

// Collects the exit status of a child that has ended (its pidfd became readable).
void reap(int pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::shared_ptr<GioApplicationLauncher> GioApplicationLauncher::make(std::shared_ptr<Queue> queue) {
    return std::shared_ptr<GioApplicationLauncher>(new GioApplicationLauncher(std::move(queue)));
}

GioApplicationLauncher::GioApplicationLauncher(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}

void GioApplicationLauncher::setOnEnded(EndHandler handler) {
    queue_->post(whileAlive(shared_from_this(), [handler = std::move(handler)](GioApplicationLauncher& self) {
        self.onEnded_ = handler;
    }));
}

LaunchResult GioApplicationLauncher::launch(const std::string& id) {
    const std::unique_ptr<GDesktopAppInfo, LaunchObjectUnref> entry(g_desktop_app_info_new(id.c_str()));
    if (!entry) {
        return {LaunchResult::Outcome::unknownApplication, 0};
    }
    const std::unique_ptr<GAppLaunchContext, LaunchObjectUnref> context(g_app_launch_context_new());
    std::vector<int> pids;
    GError* error = nullptr;
    // Not reaped by GIO: that would need a GLib main loop, which this process does not run.
    const bool started = g_desktop_app_info_launch_uris_as_manager(
        entry.get(), nullptr, context.get(),
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), leaveHostsSession, nullptr,
        collectPid, &pids, &error);
    if (!started) {
        gioApplicationLauncherLog.error("could not start %s: %s", id.c_str(),
                                        error ? error->message : "no reason given");
        g_clear_error(&error);
        return {LaunchResult::Outcome::failed, 0};
    }
    std::lock_guard guard(lock);
    reapUnwatched();
    const std::uint64_t number = ++launches_;
    if (pids.empty() || !watch(pids.front(), number)) {
        return {LaunchResult::Outcome::launchedUnwatched, number};
    }
    return {LaunchResult::Outcome::launched, number};
}

bool GioApplicationLauncher::watch(int pid, std::uint64_t number) {
    const auto fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const int openError = errno;
    auto child = std::make_shared<Descriptor>(IoPool::shared().context());
    std::error_code error = fd < 0 ? std::error_code(openError, std::generic_category()) : std::error_code();
    if (fd >= 0) {
        child->assign(fd, error);
        if (error) {
            close(fd);
        }
    }
    if (error) {
        gioApplicationLauncherLog.error("can't watch process %d: %s", pid, error.message().c_str());
        unwatched_.push_back(pid);
        return false;
    }
    // The wait holds the descriptor until the child has ended and is reaped, whether or not the launcher
    // is still there to hear of it.
    auto ended = onQueueWhileAlive(queue_, weak_from_this(), [number](GioApplicationLauncher& self) {
        if (self.onEnded_) {
            self.onEnded_(number);
        }
    });
    child->async_wait(Descriptor::wait_read,
                      [child, pid, ended = std::move(ended)](const std::error_code& waited) {
                          if (waited) {
                              return;
                          }
                          reap(pid);
                          ended();
                      });
    return true;
}

// Without a pidfd there is nothing to wait on without a thread: a process that could not be watched is
// reaped at a later launch once it has ended, so at most a few zombies wait for that.
void GioApplicationLauncher::reapUnwatched() {
    std::erase_if(unwatched_, [](int pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

} // namespace velm
