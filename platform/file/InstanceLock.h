#pragma once

#include "platform/file/FileDescriptor.h"

#include <filesystem>
#include <variant>

namespace velm {

// Makes sure only one process of a kind runs for the user: an exclusive flock on a file, held for as
// long as the object lives (and let go by the kernel when the process dies, however it dies).
class InstanceLock {
public:
    enum class Failure {
        heldElsewhere, // another process holds it
        unusable,      // the file cannot be opened or locked
    };

    // Takes the lock on `file` (made 0600 when missing, never through a symbolic link) without waiting.
    static std::variant<InstanceLock, Failure> acquire(const std::filesystem::path& file);

private:
    explicit InstanceLock(FileDescriptor fd) : fd_(std::move(fd)) {}

    FileDescriptor fd_;
};

} // namespace velm
