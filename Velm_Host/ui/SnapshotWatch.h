#pragma once

#include "Velm_Host/core/SnapshotStore.h"
#include "Velm_Host/ui/GuiHandoff.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace velm {

// The snapshot store's changes for any number of views. The store reports to one handler, so
// the watch is the store's one observer: it takes the store's onChange over and hands every
// change on to each view that subscribed, on that view's thread.
class SnapshotWatch : public std::enable_shared_from_this<SnapshotWatch> {
public:
    static std::shared_ptr<SnapshotWatch> make(std::shared_ptr<SnapshotStore> store);
    // The watch of SnapshotStore::shared(), made on first use.
    static std::shared_ptr<SnapshotWatch> shared();

    SnapshotWatch(const SnapshotWatch&) = delete;
    SnapshotWatch& operator=(const SnapshotWatch&) = delete;

    const std::shared_ptr<SnapshotStore>& store() const { return store_; }
    // The key's revision now; nothing for a key never written or removed.
    std::optional<std::uint64_t> revision(std::string_view key) const;

    // After each change of the store, `handler` runs through `handoff`, until it is closed.
    void subscribe(std::weak_ptr<GuiHandoff> handoff, std::function<void()> handler);

private:
    struct Subscriber {
        std::weak_ptr<GuiHandoff> handoff;
        std::function<void()> handler;
    };

    explicit SnapshotWatch(std::shared_ptr<SnapshotStore> store) : store_(std::move(store)) {}

    void notify();
    // With `lock` held: forgets the views that are gone, so the list stays as long as the views.
    void prune();

    const std::shared_ptr<SnapshotStore> store_;
    std::mutex lock;
    std::vector<Subscriber> subscribers_;
};

} // namespace velm
