#include "platform/store/StoreFolder.h"

#include "platform/crypto/SecureWipe.h"
#include "platform/log/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velm {
namespace {

const Log storeFolderLog("store");

constexpr mode_t folderMode = 0700;
constexpr mode_t sharedFolderMode = 0755;
constexpr mode_t fileMode = 0600;
constexpr std::string_view temporarySuffix = ".tmp";
constexpr std::string_view lockFileName = ".velm-writers.lock";
constexpr std::size_t maxNameBytes = 255;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Closes now so that a failed close (a late write error) can be reported.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

struct OpenedFolder {
    StoreFolder::ReadResult::Status status;
    Descriptor fd;
};

bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos && name.size() + temporarySuffix.size() <= maxNameBytes;
}

// Other users must not own the folder or a file in it; other permissions than ours are reset.
bool isTrusted(int fd, const struct stat& info, mode_t wanted, const char* what, const std::string& path) {
    if (info.st_uid != geteuid()) {
        storeFolderLog.error("%s %s belongs to another user; not used", what, path.c_str());
        return false;
    }
    if ((info.st_mode & 07777) != wanted) {
        if (fchmod(fd, wanted) != 0) {
            storeFolderLog.error("cannot set the permissions of %s %s: %s", what, path.c_str(),
                                 std::strerror(errno));
            return false;
        }
        storeFolderLog.info("reset the permissions of %s %s", what, path.c_str());
    }
    return true;
}

// A home folder on NFS cannot rename without replacing; a hard link fails on a taken name
// instead. Either way errno is EEXIST when `to` is taken.
bool moveWithoutReplacing(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) {
        return false;
    }
    if (::unlinkat(folder, from.c_str(), 0) != 0) {
        const int reason = errno;
        ::unlinkat(folder, to.c_str(), 0);
        errno = reason;
        return false;
    }
    return true;
}

bool syncFolder(int fd, const std::filesystem::path& path) {
    if (fsync(fd) != 0) {
        storeFolderLog.error("cannot sync folder %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// A folder made here is synced into its parent, or a power cut could take it and everything
// written into it since. False only when such a sync failed; opening the folder reports the rest.
bool makeParents(const std::filesystem::path& path, mode_t mode) {
    std::filesystem::path prefix;
    for (const auto& part : path) {
        prefix /= part;
        if (::mkdir(prefix.c_str(), mode) != 0) {
            if (errno != EEXIST) {
                return true;
            }
            continue;
        }
        const std::filesystem::path parent = prefix.parent_path().empty() ? "." : prefix.parent_path();
        Descriptor parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parentFd.isOpen() || !syncFolder(parentFd.get(), parent)) {
            return false;
        }
    }
    return true;
}

// An open error that may pass (no descriptors or memory left, an I/O error) rather than one
// that tells what the item is (a link, not a folder or not a regular file).
StoreFolder::ReadResult::Status openFailure(int error) {
    using Status = StoreFolder::ReadResult::Status;
    return error == ELOOP || error == ENOTDIR || error == EISDIR || error == ENXIO ? Status::failed
                                                                                   : Status::unavailable;
}

OpenedFolder openFolder(const std::filesystem::path& path, StoreFolder::Kind kind, bool create) {
    using Status = StoreFolder::ReadResult::Status;
    const bool shared = kind == StoreFolder::Kind::sharedFolder;
    if (create && !makeParents(path, shared ? sharedFolderMode : folderMode)) {
        return {Status::failed, Descriptor()};
    }
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (shared ? 0 : O_NOFOLLOW)));
    if (!fd.isOpen()) {
        const int error = errno;
        if (error == ENOENT) {
            return {Status::missing, Descriptor()};
        }
        // Taken before logging, which may change errno.
        storeFolderLog.error("cannot open folder %s: %s", path.c_str(), std::strerror(error));
        return {openFailure(error), Descriptor()};
    }
    struct stat info {};
    if (!shared &&
        (fstat(fd.get(), &info) != 0 || !isTrusted(fd.get(), info, folderMode, "folder", path.string()))) {
        return {Status::failed, Descriptor()};
    }
    return {Status::found, std::move(fd)};
}

bool lockExclusively(int fd) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The writers' lock of the folder, held until the folder's descriptor and the one given back close.
// It is the folder's own flock; NFS, which takes a writer's flock as a write lock on the server, refuses
// that on a folder (open only for reading), so there writers take turns on a file of the folder instead:
// every writer on that file system meets the same refusal and so the same file. Nothing when neither
// lock can be had.
std::optional<Descriptor> lockForWriting(const Descriptor& folder, const std::filesystem::path& path) {
    if (lockExclusively(folder.get())) {
        return Descriptor();
    }
    if (errno == EBADF) {
        Descriptor lockFile(::openat(folder.get(), std::string(lockFileName).c_str(),
                                     O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, fileMode));
        if (lockFile.isOpen() && lockExclusively(lockFile.get())) {
            return lockFile;
        }
    }
    storeFolderLog.error("cannot lock folder %s: %s", path.c_str(), std::strerror(errno));
    return std::nullopt;
}

bool writeAll(int fd, ByteView contents) {
    while (!contents.empty()) {
        ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents = contents.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

std::optional<StoreFolder::Unusable> StoreFolder::whyUnusable() const {
    const auto cause = [](int error) {
        return error == ENOTDIR ? std::string("a part of its path is not a folder") : std::strerror(error);
    };
    const bool shared = kind_ == Kind::sharedFolder;
    struct stat info {};
    if ((shared ? ::stat(path_.c_str(), &info) : ::lstat(path_.c_str(), &info)) == 0) {
        if (S_ISLNK(info.st_mode)) {
            return Unusable{path_.string() + " is a symbolic link"};
        }
        if (!S_ISDIR(info.st_mode)) {
            return Unusable{path_.string() + " is not a folder"};
        }
        if (!shared && info.st_uid != geteuid()) {
            return Unusable{path_.string() + " belongs to another user"};
        }
        if (::access(path_.c_str(), W_OK | X_OK) != 0) {
            return Unusable{path_.string() + " cannot be written: " + cause(errno),
                            ::access(path_.c_str(), R_OK | X_OK) == 0};
        }
        return std::nullopt;
    }
    if (errno != ENOENT) {
        return Unusable{path_.string() + " cannot be used: " + cause(errno)};
    }
    // Missing: the nearest folder above it must take a new folder.
    for (auto parent = path_.parent_path();; parent = parent.parent_path()) {
        const auto above = parent.empty() ? std::filesystem::path(".") : parent;
        if (::stat(above.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                return Unusable{path_.string() + " cannot be made: " + above.string() + " is not a folder"};
            }
            if (::access(above.c_str(), W_OK | X_OK) != 0) {
                return Unusable{path_.string() + " cannot be made: " + cause(errno)};
            }
            return std::nullopt;
        }
        if (errno != ENOENT || parent.empty() || parent == parent.parent_path()) {
            return Unusable{path_.string() + " cannot be made: " + cause(errno)};
        }
    }
}

bool StoreFolder::make() const {
    return openFolder(path_, kind_, true).status == ReadResult::Status::found;
}

StoreFolder::ReadResult StoreFolder::read(std::string_view name) const {
    const std::string file = (path_ / name).string();
    if (!isPlainName(name)) {
        storeFolderLog.error("refused file name %s", file.c_str());
        return {ReadResult::Status::failed, {}};
    }
    auto folder = openFolder(path_, kind_, false);
    if (folder.status != ReadResult::Status::found) {
        return {folder.status, {}};
    }
    // O_NONBLOCK keeps a planted FIFO from blocking the open; it changes nothing for regular files.
    Descriptor fd(::openat(folder.fd.get(), std::string(name).c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isOpen()) {
        const int error = errno;
        if (error == ENOENT) {
            return {ReadResult::Status::missing, {}};
        }
        storeFolderLog.error("cannot open %s: %s", file.c_str(), std::strerror(error));
        return {openFailure(error), {}};
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        storeFolderLog.error("%s is not a regular file", file.c_str());
        return {ReadResult::Status::failed, {}};
    }
    if (!isTrusted(fd.get(), info, fileMode, "file", file)) {
        return {ReadResult::Status::failed, {}};
    }
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > maxFileBytes) {
        storeFolderLog.error("%s is larger than %zu bytes", file.c_str(), maxFileBytes);
        return {ReadResult::Status::failed, {}};
    }

    // One byte more than fstat promised tells of a file that grew under us: some other writer is at work.
    Bytes contents(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    while (filled < contents.size()) {
        ssize_t got = ::read(fd.get(), contents.data() + filled, contents.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            secureWipe(contents);
            storeFolderLog.error("cannot read %s: %s", file.c_str(), std::strerror(error));
            return {ReadResult::Status::unavailable, {}};
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled == contents.size()) {
        secureWipe(contents);
        storeFolderLog.error("%s changed while being read", file.c_str());
        return {ReadResult::Status::failed, {}};
    }
    contents.resize(filled);
    return {ReadResult::Status::found, std::move(contents)};
}

bool StoreFolder::replace(std::string_view name, ByteView contents) const {
    const std::string file = (path_ / name).string();
    if (!isPlainName(name)) {
        storeFolderLog.error("refused file name %s", file.c_str());
        return false;
    }
    if (contents.size() > maxFileBytes) {
        storeFolderLog.error("refused to write %zu bytes to %s", contents.size(), file.c_str());
        return false;
    }
    auto folder = openFolder(path_, kind_, true);
    const auto lock =
        folder.status == ReadResult::Status::found ? lockForWriting(folder.fd, path_) : std::nullopt;
    if (!lock) {
        return false;
    }

    // A temporary file left by a writer that died is ours to clear; creating afresh with O_EXCL means we
    // never write through anything planted under that name.
    const std::string temporary = std::string(name) + std::string(temporarySuffix);
    if (::unlinkat(folder.fd.get(), temporary.c_str(), 0) != 0 && errno != ENOENT) {
        storeFolderLog.error("cannot clear %s: %s", (path_ / temporary).c_str(), std::strerror(errno));
        return false;
    }
    Descriptor fd(::openat(folder.fd.get(), temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode));
    if (!fd.isOpen()) {
        storeFolderLog.error("cannot create %s: %s", (path_ / temporary).c_str(), std::strerror(errno));
        return false;
    }
    bool written = fchmod(fd.get(), fileMode) == 0 && writeAll(fd.get(), contents) && fsync(fd.get()) == 0;
    written = fd.close() && written;
    if (!written ||
        ::renameat(folder.fd.get(), temporary.c_str(), folder.fd.get(), std::string(name).c_str()) != 0) {
        storeFolderLog.error("cannot write %s: %s", file.c_str(), std::strerror(errno));
        ::unlinkat(folder.fd.get(), temporary.c_str(), 0);
        return false;
    }
    return syncFolder(folder.fd.get(), path_);
}

bool StoreFolder::remove(std::string_view name) const {
    const std::string file = (path_ / name).string();
    if (!isPlainName(name)) {
        storeFolderLog.error("refused file name %s", file.c_str());
        return false;
    }
    auto folder = openFolder(path_, kind_, false);
    if (folder.status == ReadResult::Status::missing) {
        return true;
    }
    const auto lock =
        folder.status == ReadResult::Status::found ? lockForWriting(folder.fd, path_) : std::nullopt;
    if (!lock) {
        return false;
    }
    // The temporary file of an interrupted replacement may hold the item's newest contents: a
    // secret must not outlive its removal there.
    const std::string temporary = std::string(name) + std::string(temporarySuffix);
    bool removed = false;
    for (const std::string& item : {std::string(name), temporary}) {
        if (::unlinkat(folder.fd.get(), item.c_str(), 0) == 0) {
            removed = true;
        } else if (errno != ENOENT) {
            storeFolderLog.error("cannot remove %s: %s", (path_ / item).c_str(), std::strerror(errno));
            return false;
        }
    }
    return !removed || syncFolder(folder.fd.get(), path_);
}

std::optional<std::string> StoreFolder::moveAside(std::string_view name, std::string_view newName) const {
    if (!isPlainName(name) || !isPlainName(newName)) {
        storeFolderLog.error("refused file name %s", (path_ / name).c_str());
        return std::nullopt;
    }
    auto folder = openFolder(path_, kind_, false);
    const auto lock =
        folder.status == ReadResult::Status::found ? lockForWriting(folder.fd, path_) : std::nullopt;
    if (!lock) {
        return std::nullopt;
    }
    constexpr int attempts = 100;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        std::string candidate(newName);
        if (attempt > 1) {
            candidate += "-" + std::to_string(attempt);
        }
        if (!isPlainName(candidate)) {
            break;
        }
        if (moveWithoutReplacing(folder.fd.get(), std::string(name), candidate)) {
            if (!syncFolder(folder.fd.get(), path_)) {
                return std::nullopt;
            }
            return candidate;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    storeFolderLog.error("cannot move %s aside: %s", (path_ / name).c_str(), std::strerror(errno));
    return std::nullopt;
}

} // namespace velm
