#include "platform/file/ReadableFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {

std::optional<ReadableFile> ReadableFile::open(const std::filesystem::path& path) {
    // Non-blocking only for the open itself, so that opening a pipe with no writer cannot hang.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isOpen()) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return std::nullopt;
    }
    return ReadableFile(std::move(fd));
}

std::optional<std::size_t> ReadableFile::read(std::span<std::uint8_t> buffer) {
    if (!fd_.isOpen()) {
        errno = EBADF;
        return std::nullopt;
    }
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::read(fd_.get(), buffer.data() + filled, buffer.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return filled;
}

std::optional<std::uint64_t> ReadableFile::size() const {
    if (!fd_.isOpen()) {
        errno = EBADF;
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace velm
