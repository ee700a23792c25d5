#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "platform/image/Image.h"
#include "platform/store/StoreFolder.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velm {

// Pictures of the devices' screens, one JPEG file per key (a device identifier), which the
// device pictures show.
//
// Every key that was ever written or removed has a revision, raised by one with each write or
// removal of that key and for every key by removeAll, so that whoever shows a picture knows
// when to read it again; a removal that fails leaves the picture and its revision as they were.
// A picture that cannot be kept removes the key's older one. Files are
// written and removed on the queue "velm.snapshots"; the revisions change once that work is done,
// and `onChange` then runs on the main queue.
class SnapshotStore : public std::enable_shared_from_this<SnapshotStore> {
public:
    using Revisions = std::map<std::string, std::uint64_t, std::less<>>;

    static constexpr std::string_view fileExtension = "jpg";
    static constexpr std::string_view queueLabel = "velm.snapshots";
    // Larger pictures are not kept, and not read.
    static constexpr std::size_t maxFileBytes = 8u << 20;
    static constexpr std::size_t maxPixels = 4096u * 4096u;

    // The one store of the host, made on first use in the standard folder, publishing on the
    // main queue as it is then.
    static std::shared_ptr<SnapshotStore> shared();
    // $XDG_DATA_HOME/velm-host/snapshots
    static std::filesystem::path standardDirectory();

    static std::shared_ptr<SnapshotStore> make(std::filesystem::path directory, std::shared_ptr<Queue> queue,
                                               std::shared_ptr<Queue> mainQueue);

    SnapshotStore(const SnapshotStore&) = delete;
    SnapshotStore& operator=(const SnapshotStore&) = delete;

    const std::filesystem::path& directory() const { return folder_.path(); }

    // The SHA-256 of the key's bytes in lower-case hex: any key makes a safe file name.
    static std::string fileName(std::string_view key);
    // Where the key's snapshot is kept.
    std::filesystem::path file(std::string_view key) const;

    // The picture in a snapshot file, or nothing when it cannot be read or decoded. Safe from
    // any thread.
    static std::optional<Image> image(const std::filesystem::path& file);

    void setOnChange(std::function<void()> handler);
    Revisions revisions() const;

    void write(std::string key, Bytes jpeg);
    void remove(std::string key);
    // Empties the folder, whatever is in it; the host calls it at start-up.
    void removeAll();

private:
    SnapshotStore(std::filesystem::path directory, std::shared_ptr<Queue> queue,
                  std::shared_ptr<Queue> mainQueue);

    // On the queue.
    // Writes the key's picture, else removes its older one; false when an older one may still be there.
    bool keep(const std::string& key, ByteView jpeg) const;
    void removeEveryFile() const;
    void bump(const std::string& key);
    void bumpAll();
    void publish();

    const StoreFolder folder_;
    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Queue> mainQueue_;

    GuardedCallback<std::function<void()>> onChange_;

    mutable std::mutex lock;
    Revisions revisions_;
};

} // namespace velm
