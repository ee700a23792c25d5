#include "platform/file/InstanceLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace velm {

std::variant<InstanceLock, InstanceLock::Failure> InstanceLock::acquire(const std::filesystem::path& file) {
    FileDescriptor fd(open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isOpen()) {
        return Failure::unusable;
    }
    int result = 0;
    do {
        result = flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return errno == EWOULDBLOCK ? Failure::heldElsewhere : Failure::unusable;
    }
    return InstanceLock(std::move(fd));
}

} // namespace velm
