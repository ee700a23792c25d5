#pragma once

#include "platform/desktop/ApplicationLauncher.h"
#include "platform/dispatch/Queue.h"

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velm {

// Launches through GIO (g_desktop_app_info_launch_uris_as_manager), so the Exec line's field codes
// are expanded by freedesktop.org's desktop-entry rules. It reaps the processes it starts itself:
// each is watched through a pidfd by a small thread until it ends or the launcher goes.
class GioApplicationLauncher final : public ApplicationLauncher,
                                     public std::enable_shared_from_this<GioApplicationLauncher> {
public:
    // Processes watched at once; launches beyond that run unwatched.
    static constexpr std::size_t maxWatched = 16;

    static std::shared_ptr<GioApplicationLauncher> make(std::shared_ptr<Queue> queue);
    ~GioApplicationLauncher() override;

    void setOnEnded(EndHandler handler) override;
    LaunchResult launch(const std::string& id) override;

private:
    struct Watch;

    explicit GioApplicationLauncher(std::shared_ptr<Queue> queue);

    bool watch(int pid, std::uint64_t number);

    const std::shared_ptr<Queue> queue_;
    const int stopDescriptor_;
    std::mutex lock;
    std::uint64_t launches_ = 0;
    std::vector<std::unique_ptr<Watch>> watches_;
    // Touched only on queue_.
    EndHandler onEnded_;
};

} // namespace velm
