#pragma once

#include "platform/core/Bytes.h"
#include "platform/desktop/ApplicationCatalog.h"
#include "platform/dispatch/Queue.h"
#include "platform/display/WindowList.h"
#include "protocol/AppInfo.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The installed and the running applications as the client lists them, with their icons. Entries
// and windows are read on the owner's queue; icons are drawn on the queue of the Qt GUI thread
// (pixmaps live there) and kept for later lists.
class ApplicationLists : public std::enable_shared_from_this<ApplicationLists> {
public:
    using Completion = std::function<void(std::vector<AppInfo>)>;

    // Icons kept at most; beyond that the oldest drawing is forgotten.
    static constexpr std::size_t maxKeptIcons = 256;

    static std::shared_ptr<ApplicationLists> make(std::shared_ptr<Queue> queue,
                                                  std::shared_ptr<Queue> iconQueue,
                                                  std::shared_ptr<ApplicationCatalog> catalog,
                                                  std::shared_ptr<WindowList> windows);

    // Each completion runs on the icon queue.
    void installed(Completion completion);
    void running(Completion completion);

private:
    ApplicationLists(std::shared_ptr<Queue> queue, std::shared_ptr<Queue> iconQueue,
                     std::shared_ptr<ApplicationCatalog> catalog, std::shared_ptr<WindowList> windows);

    void withIcons(std::vector<DesktopApp> apps, Completion completion);
    std::optional<Bytes> icon(const std::string& name);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Queue> iconQueue_;
    const std::shared_ptr<ApplicationCatalog> catalog_;
    const std::shared_ptr<WindowList> windows_;
    // Touched only on iconQueue_: drawings by icon name, and the names in the order drawn.
    std::map<std::string, Bytes> icons_;
    std::vector<std::string> iconOrder_;
};

} // namespace velm
