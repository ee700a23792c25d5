#pragma once

#include <utility>

namespace velm {

// Owns one open POSIX file descriptor and closes it when destroyed. Move-only.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // Closes now and tells whether the close succeeded (it can report a late write error). The
    // descriptor is released either way: retrying a close on Linux could close someone else's file.
    bool close();
    // Gives the descriptor up to another owner (closedir, fclose) without closing it.
    int release() { return std::exchange(fd_, -1); }

private:
    void reset();

    int fd_ = -1;
};

} // namespace velm
