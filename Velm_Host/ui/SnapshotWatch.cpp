#include "Velm_Host/ui/SnapshotWatch.h"

#include "platform/dispatch/WhileAlive.h"

#include <algorithm>

namespace velm {

std::shared_ptr<SnapshotWatch> SnapshotWatch::make(std::shared_ptr<SnapshotStore> store) {
    auto watch = std::shared_ptr<SnapshotWatch>(new SnapshotWatch(std::move(store)));
    watch->store_->setOnChange(whileAlive(watch, &SnapshotWatch::notify));
    return watch;
}

std::shared_ptr<SnapshotWatch> SnapshotWatch::shared() {
    static const std::shared_ptr<SnapshotWatch> watch = make(SnapshotStore::shared());
    return watch;
}

std::optional<std::uint64_t> SnapshotWatch::revision(std::string_view key) const {
    const auto revisions = store_->revisions();
    const auto found = revisions.find(key);
    if (found == revisions.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SnapshotWatch::subscribe(std::weak_ptr<GuiHandoff> handoff, std::function<void()> handler) {
    std::lock_guard guard(lock);
    prune();
    subscribers_.push_back({std::move(handoff), std::move(handler)});
}

void SnapshotWatch::notify() {
    std::vector<Subscriber> subscribers;
    {
        std::lock_guard guard(lock);
        prune();
        subscribers = subscribers_;
    }
    for (const Subscriber& subscriber : subscribers) {
        if (const auto handoff = subscriber.handoff.lock()) {
            handoff->post(subscriber.handler);
        }
    }
}

void SnapshotWatch::prune() {
    std::erase_if(subscribers_, [](const Subscriber& subscriber) { return subscriber.handoff.expired(); });
}

} // namespace velm
