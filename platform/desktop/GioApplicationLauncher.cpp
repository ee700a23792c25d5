#include "platform/desktop/GioApplicationLauncher.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <atomic>
#include <gio/gdesktopappinfo.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

const Log gioApplicationLauncherLog("apps");

struct LaunchObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

void collectPid(GDesktopAppInfo*, GPid pid, gpointer pids) {
    static_cast<std::vector<int>*>(pids)->push_back(pid);
}

} // namespace

// One started process and the thread that waits for its end.
struct GioApplicationLauncher::Watch {
    std::atomic<bool> ended{false};
    std::thread thread;
};

std::shared_ptr<GioApplicationLauncher> GioApplicationLauncher::make(std::shared_ptr<Queue> queue) {
    return std::shared_ptr<GioApplicationLauncher>(new GioApplicationLauncher(std::move(queue)));
}

GioApplicationLauncher::GioApplicationLauncher(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), stopDescriptor_(eventfd(0, EFD_CLOEXEC)) {}

GioApplicationLauncher::~GioApplicationLauncher() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(stopDescriptor_, &one, sizeof one);
    for (const auto& watch : watches_) {
        watch->thread.join();
    }
    close(stopDescriptor_);
}

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
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr,
        collectPid, &pids, &error);
    if (!started) {
        gioApplicationLauncherLog.error("could not start %s: %s", id.c_str(),
                                        error ? error->message : "no reason given");
        g_clear_error(&error);
        return {LaunchResult::Outcome::failed, 0};
    }
    std::lock_guard guard(lock);
    const std::uint64_t number = ++launches_;
    if (pids.empty() || !watch(pids.front(), number)) {
        return {LaunchResult::Outcome::launchedUnwatched, number};
    }
    return {LaunchResult::Outcome::launched, number};
}

bool GioApplicationLauncher::watch(int pid, std::uint64_t number) {
    // Watches of processes that have ended make room for new ones.
    for (auto& watch : watches_) {
        if (watch->ended) {
            watch->thread.join();
            watch.reset();
        }
    }
    std::erase(watches_, nullptr);
    const auto descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (watches_.size() >= maxWatched || descriptor < 0) {
        if (descriptor >= 0) {
            close(descriptor);
        }
        // Reaped when it ends, so that no zombie stays behind.
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
        return false;
    }
    auto watch = std::make_unique<Watch>();
    watch->thread = std::thread(
        [this, pid, descriptor, number, ended = &watch->ended, weak = weak_from_this(), queue = queue_] {
            pollfd descriptors[2] = {{descriptor, POLLIN, 0}, {stopDescriptor_, POLLIN, 0}};
            while (poll(descriptors, 2, -1) < 0 && errno == EINTR) {
            }
            if (descriptors[0].revents & POLLIN) {
                waitpid(pid, nullptr, 0);
                queue->post([weak, number] {
                    if (const auto self = weak.lock(); self && self->onEnded_) {
                        self->onEnded_(number);
                    }
                });
            } else {
                // The launcher is going; someone must still reap the child when it ends.
                std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
            }
            close(descriptor);
            *ended = true;
        });
    watches_.push_back(std::move(watch));
    return true;
}

} // namespace velm
