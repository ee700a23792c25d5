#include "Velm_Host/core/SnapshotStore.h"

#include "platform/crypto/Sha256.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/image/Jpeg.h"
#include "platform/log/Log.h"
#include "platform/store/XdgDirs.h"

#include <system_error>
#include <utility>

namespace velm {
namespace {

const Log snapshotLog("host");

} // namespace

std::shared_ptr<SnapshotStore> SnapshotStore::shared() {
    static const std::shared_ptr<SnapshotStore> store =
        make(standardDirectory(), Queue::make(std::string(queueLabel)), Queue::main());
    return store;
}

std::filesystem::path SnapshotStore::standardDirectory() {
    return XdgDirs::dataHome() / "velm-host" / "snapshots";
}

std::shared_ptr<SnapshotStore> SnapshotStore::make(std::filesystem::path directory,
                                                   std::shared_ptr<Queue> queue,
                                                   std::shared_ptr<Queue> mainQueue) {
    return std::shared_ptr<SnapshotStore>(
        new SnapshotStore(std::move(directory), std::move(queue), std::move(mainQueue)));
}

SnapshotStore::SnapshotStore(std::filesystem::path directory, std::shared_ptr<Queue> queue,
                             std::shared_ptr<Queue> mainQueue)
    : folder_(std::move(directory)), queue_(std::move(queue)), mainQueue_(std::move(mainQueue)) {}

std::string SnapshotStore::fileName(std::string_view key) {
    static constexpr char digits[] = "0123456789abcdef";
    const auto digest =
        Sha256::digest({ByteView(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())});
    std::string name;
    name.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        name += digits[byte >> 4];
        name += digits[byte & 0x0F];
    }
    return name;
}

std::filesystem::path SnapshotStore::file(std::string_view key) const {
    return directory() / (fileName(key) + "." + std::string(fileExtension));
}

std::optional<Image> SnapshotStore::image(const std::filesystem::path& file) {
    const auto read = StoreFolder(file.parent_path()).read(file.filename().string());
    if (read.status != StoreFolder::ReadResult::Status::found || read.contents.size() > maxFileBytes) {
        return std::nullopt;
    }
    return Jpeg::decode(read.contents, maxPixels);
}

void SnapshotStore::setOnChange(std::function<void()> handler) {
    onChange_.set(std::move(handler));
}

SnapshotStore::Revisions SnapshotStore::revisions() const {
    std::lock_guard guard(lock);
    return revisions_;
}

void SnapshotStore::write(std::string key, Bytes jpeg) {
    queue_->post(
        whileAlive(shared_from_this(), [key = std::move(key), jpeg = std::move(jpeg)](SnapshotStore& self) {
            if (self.keep(key, jpeg)) {
                self.bump(key);
                self.publish();
            }
        }));
}

// A picture that cannot be kept takes the older one with it: that is no longer the device's last
// screen, and a reader told of a new revision must not find it again.
bool SnapshotStore::keep(const std::string& key, ByteView jpeg) const {
    const auto name = file(key).filename().string();
    if (jpeg.size() > maxFileBytes) {
        snapshotLog.error("snapshot of %zu bytes not kept", jpeg.size());
    } else if (folder_.replace(name, jpeg)) {
        return true;
    } else {
        snapshotLog.error("snapshot not written");
    }
    if (!folder_.remove(name)) {
        snapshotLog.error("older snapshot not removed");
        return false;
    }
    return true;
}

void SnapshotStore::remove(std::string key) {
    queue_->post(whileAlive(shared_from_this(), [key = std::move(key)](SnapshotStore& self) {
        // The picture is still there: nothing changed for a reader to look at.
        if (!self.folder_.remove(self.file(key).filename().string())) {
            snapshotLog.error("snapshot not removed");
            return;
        }
        self.bump(key);
        self.publish();
    }));
}

void SnapshotStore::removeAll() {
    queue_->post(whileAlive(shared_from_this(), [](SnapshotStore& self) {
        self.removeEveryFile();
        self.bumpAll();
        self.publish();
    }));
}

void SnapshotStore::removeEveryFile() const {
    std::error_code error;
    std::filesystem::directory_iterator entry(directory(), error);
    if (error == std::errc::no_such_file_or_directory) {
        return;
    }
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code statusError;
        if (entry->symlink_status(statusError).type() != std::filesystem::file_type::directory) {
            folder_.remove(entry->path().filename().string());
        }
    }
    if (error) {
        snapshotLog.error("cannot list the snapshots: %s", error.message().c_str());
    }
}

void SnapshotStore::bump(const std::string& key) {
    std::lock_guard guard(lock);
    ++revisions_[key];
}

void SnapshotStore::bumpAll() {
    std::lock_guard guard(lock);
    for (auto& [key, revision] : revisions_) {
        ++revision;
    }
}

void SnapshotStore::publish() {
    mainQueue_->post(whileAlive(shared_from_this(), [](SnapshotStore& self) { self.onChange_(); }));
}

} // namespace velm
