#include "platform/file/Folder.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velm {
namespace {

constexpr mode_t newFileMode = 0600;
constexpr mode_t newFolderMode = 0700;

bool isPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// How a file system refuses a kind of move it cannot do at all (a rename that must not replace, a
// hard link), as against a failure of this one move.
bool cannotDoThere(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

} // namespace

std::optional<Folder> Folder::open(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen()) {
        return std::nullopt;
    }
    return Folder(path, std::move(fd));
}

std::optional<Folder> Folder::openOrMake(const std::filesystem::path& path) {
    if (auto opened = open(path); opened || errno != ENOENT) {
        return opened;
    }
    std::filesystem::path prefix;
    for (const auto& part : path) {
        prefix /= part;
        if (::mkdir(prefix.c_str(), newFolderMode) == 0) {
            // Until its parent is synced, a power cut could take the new folder with every file stored in
            // it since, each reported as stored.
            const auto parent = open(prefix.parent_path().empty() ? "." : prefix.parent_path());
            if (!parent || !parent->sync()) {
                return std::nullopt;
            }
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return open(path);
}

std::optional<WritableFile> Folder::createExclusive(const std::string& name) const {
    if (!isPlainName(name)) {
        return std::nullopt;
    }
    int fd = -1;
    do {
        fd = ::openat(fd_.get(), name.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, newFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    return WritableFile(FileDescriptor(fd));
}

bool Folder::contains(const std::string& name) const {
    if (!isPlainName(name)) {
        return true;
    }
    struct stat info {};
    return ::fstatat(fd_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

Folder::MoveResult Folder::moveWithoutReplacing(const std::string& from, const std::string& to) const {
    if (!isPlainName(from) || !isPlainName(to)) {
        return MoveResult::failed;
    }
    if (::renameat2(fd_.get(), from.c_str(), fd_.get(), to.c_str(), RENAME_NOREPLACE) == 0) {
        return MoveResult::moved;
    }
    if (errno == EEXIST) {
        return MoveResult::taken;
    }
    if (!cannotDoThere(errno)) {
        return MoveResult::failed;
    }
    // The file system cannot promise not to replace: a hard link fails on an existing name instead.
    if (::linkat(fd_.get(), from.c_str(), fd_.get(), to.c_str(), 0) != 0) {
        if (errno == EEXIST) {
            return MoveResult::taken;
        }
        return cannotDoThere(errno) ? moveOntoClaim(from, to) : MoveResult::failed;
    }
    if (::unlinkat(fd_.get(), from.c_str(), 0) != 0) {
        const int reason = errno;
        ::unlinkat(fd_.get(), to.c_str(), 0);
        errno = reason;
        return MoveResult::failed;
    }
    return MoveResult::moved;
}

// Without links (FAT, some network mounts) the name is claimed with an exclusive create, which
// only one mover can win, and the plain rename then replaces nothing but that claim.
Folder::MoveResult Folder::moveOntoClaim(const std::string& from, const std::string& to) const {
    auto claim = createExclusive(to);
    if (!claim) {
        return errno == EEXIST ? MoveResult::taken : MoveResult::failed;
    }
    claim.reset();
    int result = 0;
    do {
        result = ::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str());
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int reason = errno;
        ::unlinkat(fd_.get(), to.c_str(), 0);
        errno = reason;
        return MoveResult::failed;
    }
    return MoveResult::moved;
}

bool Folder::remove(const std::string& name) const {
    if (!isPlainName(name)) {
        return false;
    }
    return ::unlinkat(fd_.get(), name.c_str(), 0) == 0 || errno == ENOENT;
}

std::optional<std::vector<std::string>> Folder::names() const {
    // A descriptor of its own, as reading moves the position and closedir closes it.
    FileDescriptor own(::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* listing = own.isOpen() ? ::fdopendir(own.get()) : nullptr;
    if (listing == nullptr) {
        return std::nullopt;
    }
    static_cast<void>(own.release()); // closedir closes it
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    const int error = errno;
    ::closedir(listing);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return names;
}

std::optional<std::uint64_t> Folder::availableBytes() const {
    struct statvfs info {};
    if (::fstatvfs(fd_.get(), &info) != 0) {
        return std::nullopt;
    }
    const std::uint64_t blocks = info.f_bavail;
    const std::uint64_t blockSize = info.f_frsize;
    if (blockSize != 0 && blocks > std::numeric_limits<std::uint64_t>::max() / blockSize) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return blocks * blockSize;
}

bool Folder::sync() const {
    int result = 0;
    do {
        result = ::fsync(fd_.get());
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace velm
