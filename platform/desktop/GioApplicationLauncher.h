#pragma once

#include "platform/desktop/ApplicationLauncher.h"
#include "platform/dispatch/Queue.h"

#include <memory>
#include <mutex>
#include <vector>

namespace velm {

// Launches through GIO (g_desktop_app_info_launch_uris_as_manager), so the Exec line's field codes
// are expanded by freedesktop.org's desktop-entry rules. It reaps the processes it starts itself:
// each one's pidfd is watched on the shared I/O pool, with no thread of its own, until it ends,
// also after the launcher is gone. Each starts in a session of its own, apart from the host's.
class GioApplicationLauncher final : public ApplicationLauncher,
                                     public std::enable_shared_from_this<GioApplicationLauncher> {
public:
    static std::shared_ptr<GioApplicationLauncher> make(std::shared_ptr<Queue> queue);

    void setOnEnded(EndHandler handler) override;
    LaunchResult launch(const std::string& id) override;

private:
    explicit GioApplicationLauncher(std::shared_ptr<Queue> queue);

    // Under lock.
    bool watch(int pid, std::uint64_t number);
    void reapUnwatched();

    const std::shared_ptr<Queue> queue_;
    std::mutex lock;
    std::uint64_t launches_ = 0;
    // Started processes that could not be watched, reaped once they have ended.
    std::vector<int> unwatched_;
    // Touched only on queue_.
    EndHandler onEnded_;
};

} // namespace velm
