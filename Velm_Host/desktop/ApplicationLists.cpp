#include "Velm_Host/desktop/ApplicationLists.h"

#include "platform/desktop/RunningApplications.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/image/ThemeIcon.h"

namespace velm {

std::shared_ptr<ApplicationLists> ApplicationLists::make(std::shared_ptr<Queue> queue,
                                                         std::shared_ptr<Queue> iconQueue,
                                                         std::shared_ptr<ApplicationCatalog> catalog,
                                                         std::shared_ptr<WindowList> windows) {
    return std::shared_ptr<ApplicationLists>(
        new ApplicationLists(std::move(queue), std::move(iconQueue), std::move(catalog), std::move(windows)));
}

ApplicationLists::ApplicationLists(std::shared_ptr<Queue> queue, std::shared_ptr<Queue> iconQueue,
                                   std::shared_ptr<ApplicationCatalog> catalog,
                                   std::shared_ptr<WindowList> windows)
    : queue_(std::move(queue)), iconQueue_(std::move(iconQueue)), catalog_(std::move(catalog)),
      windows_(std::move(windows)) {}

void ApplicationLists::installed(Completion completion) {
    queue_->post(whileAlive(shared_from_this(), [completion = std::move(completion)](ApplicationLists& self) {
        self.withIcons(self.catalog_->installed(), completion);
    }));
}

void ApplicationLists::running(Completion completion) {
    queue_->post(whileAlive(shared_from_this(), [completion = std::move(completion)](ApplicationLists& self) {
        self.withIcons(RunningApplications::match(self.windows_->owners(), self.catalog_->installed()),
                       completion);
    }));
}

void ApplicationLists::withIcons(std::vector<DesktopApp> apps, Completion completion) {
    iconQueue_->post(
        whileAlive(shared_from_this(),
                   [apps = std::move(apps), completion = std::move(completion)](ApplicationLists& self) {
                       std::vector<AppInfo> infos;
                       infos.reserve(apps.size());
                       for (const DesktopApp& app : apps) {
                           infos.push_back({app.id, app.name, self.icon(app.icon)});
                       }
                       completion(std::move(infos));
                   }));
}

std::optional<Bytes> ApplicationLists::icon(const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    if (const auto kept = icons_.find(name); kept != icons_.end()) {
        return kept->second;
    }
    auto drawn = ThemeIcon::png(name);
    // An icon not found is looked for again next time: its file may come a moment after the entry
    // (an application being installed).
    if (!drawn) {
        return std::nullopt;
    }
    if (iconOrder_.size() >= maxKeptIcons) {
        icons_.erase(iconOrder_.front());
        iconOrder_.erase(iconOrder_.begin());
    }
    icons_.emplace(name, *drawn);
    iconOrder_.push_back(name);
    return drawn;
}

} // namespace velm
