#include "SystemCallFaults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velm::test {
namespace {

std::atomic<bool> folderSyncFails{false};
std::atomic<int> openError{0};
std::atomic<int> streamSocketError{0};
std::atomic<int> acceptError{0};
std::atomic<int> failedAccepts{0};
std::atomic<int> renameError{0};
std::atomic<int> noReplaceRenameError{0};
std::atomic<int> linkError{0};
std::atomic<int> readError{0};
std::atomic<int> receiveError{0};
std::atomic<int> removeError{0};
std::atomic<int> readOnlyLockError{0};
std::atomic<std::uint16_t> receivePort{0};
std::atomic<std::size_t> readableBytes{0};
std::mutex namesLock;
std::string syncName;
std::string openName;
std::string renameName;
std::string removeName;
std::string readName;
// Taken out before it runs, so that what it opens itself passes.
std::function<void()> openAction;
std::string openActionName;

// The one hold on renaming, if any: a thread that renames onto `name` waits while `holding`.
std::atomic<bool> renameHeld{false};
std::mutex holdLock;
std::condition_variable holdChanged;
struct {
    std::string name;
    bool holding = false;
    int threadsHeld = 0;
    int releaseError = 0;
    bool outlastedLimit = false;
} hold;

template <typename Function> Function real(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::string_view lastComponent(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string pathOf(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

bool syncFails(int fd) {
    struct stat info {};
    if (!folderSyncFails.load() || ::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;
    }
    const auto path = pathOf(fd);
    std::lock_guard guard(namesLock);
    return syncName.empty() || (!path.empty() && lastComponent(path) == syncName);
}

// How many bytes a read of `fd` may ask for (its file position tells how many it has delivered), or
// nothing when it is to fail with readError.
std::optional<std::size_t> readAllowance(int fd, std::size_t wanted) {
    if (readError.load() == 0) {
        return wanted;
    }
    {
        std::lock_guard guard(namesLock);
        if (lastComponent(pathOf(fd)) != readName) {
            return wanted;
        }
    }
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    const std::size_t limit = readableBytes.load();
    if (position < 0 || static_cast<std::size_t>(position) >= limit) {
        return std::nullopt;
    }
    return std::min(wanted, limit - static_cast<std::size_t>(position));
}

// The error to fail an open of `path` with, or 0.
int openFault(const char* path) {
    const int error = openError.load();
    if (error == 0 || path == nullptr) {
        return 0;
    }
    std::lock_guard guard(namesLock);
    return openName == lastComponent(path) ? error : 0;
}

void runOpenAction(const char* path) {
    std::function<void()> action;
    {
        std::lock_guard guard(namesLock);
        if (!openAction || path == nullptr || openActionName != lastComponent(path)) {
            return;
        }
        action = std::exchange(openAction, nullptr);
    }
    action();
}

int lockFault(int fd, int operation) {
    const int error = readOnlyLockError.load();
    if (error == 0 || (operation & LOCK_EX) == 0) {
        return 0;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY ? error : 0;
}

int removeFault(const char* path) {
    const int error = removeError.load();
    if (error == 0 || path == nullptr) {
        return 0;
    }
    std::lock_guard guard(namesLock);
    return removeName == lastComponent(path) ? error : 0;
}

// The error to fail making a socket of this type with, or 0.
int socketFault(int type) {
    const int error = streamSocketError.load();
    return (type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC)) == SOCK_STREAM ? error : 0;
}

// The error to fail a receive on `fd` with, or 0.
int receiveFault(int fd) {
    const int error = receiveError.load();
    if (error == 0) {
        return 0;
    }
    int type = 0;
    socklen_t typeLength = sizeof type;
    sockaddr_in local{};
    socklen_t localLength = sizeof local;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_DGRAM ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        local.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(local.sin_port) == receivePort.load() ? error : 0;
}

int renameFault(const char* path) {
    const int error = renameError.load();
    if (error == 0 || path == nullptr) {
        return 0;
    }
    std::lock_guard guard(namesLock);
    return renameName == lastComponent(path) ? error : 0;
}

// Waits while renaming onto `path` is held; the error to fail it with then, or 0.
int waitWhileHeld(const char* path) {
    if (!renameHeld.load() || path == nullptr) {
        return 0;
    }
    std::unique_lock guard(holdLock);
    if (!hold.holding || hold.name != lastComponent(path)) {
        return 0;
    }
    ++hold.threadsHeld;
    holdChanged.notify_all();
    if (!holdChanged.wait_for(guard, SystemCallFaults::Hold::limit, [] { return !hold.holding; })) {
        hold.outlastedLimit = true;
        return 0;
    }
    return hold.releaseError;
}

} // namespace

SystemCallFaults::Hold::~Hold() {
    release();
    renameHeld = false;
}

bool SystemCallFaults::Hold::waitUntilHeld() const {
    std::unique_lock guard(holdLock);
    return holdChanged.wait_for(guard, limit, [] { return hold.threadsHeld > 0; });
}

void SystemCallFaults::Hold::release(int error) const {
    std::lock_guard guard(holdLock);
    if (hold.holding) {
        hold.holding = false;
        hold.releaseError = error;
        holdChanged.notify_all();
    }
}

bool SystemCallFaults::Hold::outlastedLimit() const {
    std::lock_guard guard(holdLock);
    return hold.outlastedLimit;
}

SystemCallFaults::Hold SystemCallFaults::holdRenamingOnto(std::string name) {
    {
        std::lock_guard guard(holdLock);
        hold.name = std::move(name);
        hold.holding = true;
        hold.threadsHeld = 0;
        hold.releaseError = 0;
        hold.outlastedLimit = false;
    }
    renameHeld = true;
    return Hold();
}

SystemCallFaults::Fault::~Fault() {
    folderSyncFails = false;
    openError = 0;
    streamSocketError = 0;
    acceptError = 0;
    renameError = 0;
    noReplaceRenameError = 0;
    linkError = 0;
    readError = 0;
    receiveError = 0;
    removeError = 0;
    readOnlyLockError = 0;
    std::lock_guard guard(namesLock);
    openAction = nullptr;
}

SystemCallFaults::Fault SystemCallFaults::failFolderSync(std::string name) {
    {
        std::lock_guard guard(namesLock);
        syncName = std::move(name);
    }
    folderSyncFails = true;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failOpening(std::string name, int error) {
    {
        std::lock_guard guard(namesLock);
        openName = std::move(name);
    }
    openError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::beforeOpening(std::string name, std::function<void()> action) {
    std::lock_guard guard(namesLock);
    openActionName = std::move(name);
    openAction = std::move(action);
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failRemoving(std::string name, int error) {
    {
        std::lock_guard guard(namesLock);
        removeName = std::move(name);
    }
    removeError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failReadingAfter(std::string name, std::size_t bytes, int error) {
    {
        std::lock_guard guard(namesLock);
        readName = std::move(name);
    }
    readableBytes = bytes;
    readError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failLockingReadOnly(int error) {
    readOnlyLockError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failStreamSockets(int error) {
    streamSocketError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failAccepting(int error) {
    failedAccepts = 0;
    acceptError = error;
    return Fault();
}

int SystemCallFaults::acceptsFailed() {
    return failedAccepts.load();
}

SystemCallFaults::Fault SystemCallFaults::failReceivingOn(std::uint16_t port, int error) {
    receivePort = port;
    receiveError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failRenaming(std::string name, int error) {
    {
        std::lock_guard guard(namesLock);
        renameName = std::move(name);
    }
    renameError = error;
    return Fault();
}

SystemCallFaults::Fault SystemCallFaults::failMovesWithoutReplacing(int renameFailure, int linkFailure) {
    noReplaceRenameError = renameFailure;
    linkError = linkFailure;
    return Fault();
}

} // namespace velm::test

extern "C" int flock(int fd, int operation) {
    static const auto next = velm::test::real<int (*)(int, int)>("flock");
    if (const int error = velm::test::lockFault(fd, operation); error != 0) {
        errno = error;
        return -1;
    }
    return next(fd, operation);
}

extern "C" int fsync(int fd) {
    static const auto next = velm::test::real<int (*)(int)>("fsync");
    if (velm::test::syncFails(fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd);
}

namespace velm::test {
namespace {

// The mode comes only with a call that may make a file.
int openWithFaults(int folder, const char* path, int flags, va_list arguments) {
    static const auto next = real<int (*)(int, const char*, int, ...)>("openat");
    const mode_t mode =
        (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
    runOpenAction(path);
    if (const int error = openFault(path); error != 0) {
        errno = error;
        return -1;
    }
    return next(folder, path, flags, mode);
}

} // namespace
} // namespace velm::test

extern "C" int openat(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = velm::test::openWithFaults(folder, path, flags, arguments);
    va_end(arguments);
    return fd;
}

// glibc's open makes the system call itself rather than calling openat.
extern "C" int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = velm::test::openWithFaults(AT_FDCWD, path, flags, arguments);
    va_end(arguments);
    return fd;
}

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    static const auto next = velm::test::real<ssize_t (*)(int, void*, size_t)>("read");
    const auto allowance = velm::test::readAllowance(fd, size);
    if (!allowance) {
        errno = velm::test::readError.load();
        return -1;
    }
    return next(fd, buffer, *allowance);
}

extern "C" int socket(int domain, int type, int protocol) {
    static const auto next = velm::test::real<int (*)(int, int, int)>("socket");
    if (const int error = velm::test::socketFault(type); error != 0) {
        errno = error;
        return -1;
    }
    return next(domain, type, protocol);
}

extern "C" int accept(int fd, sockaddr* address, socklen_t* addressLength) {
    static const auto next = velm::test::real<int (*)(int, sockaddr*, socklen_t*)>("accept");
    if (const int error = velm::test::acceptError.load(); error != 0) {
        ++velm::test::failedAccepts;
        errno = error;
        return -1;
    }
    return next(fd, address, addressLength);
}

extern "C" ssize_t recvfrom(int fd, void* buffer, size_t size, int flags, sockaddr* from,
                            socklen_t* fromLength) {
    static const auto next =
        velm::test::real<ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*)>("recvfrom");
    if (const int error = velm::test::receiveFault(fd); error != 0) {
        errno = error;
        return -1;
    }
    return next(fd, buffer, size, flags, from, fromLength);
}

extern "C" ssize_t recvmsg(int fd, msghdr* message, int flags) {
    static const auto next = velm::test::real<ssize_t (*)(int, msghdr*, int)>("recvmsg");
    if (const int error = velm::test::receiveFault(fd); error != 0) {
        errno = error;
        return -1;
    }
    return next(fd, message, flags);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) {
    static const auto next =
        velm::test::real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    if (const int error = velm::test::renameFault(from); error != 0) {
        errno = error;
        return -1;
    }
    if (const int error = velm::test::noReplaceRenameError.load();
        error != 0 && (flags & RENAME_NOREPLACE) != 0) {
        errno = error;
        return -1;
    }
    return next(fromFolder, from, toFolder, to, flags);
}

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    static const auto next = velm::test::real<int (*)(int, const char*, int, const char*, int)>("linkat");
    if (const int error = velm::test::linkError.load(); error != 0) {
        errno = error;
        return -1;
    }
    return next(fromFolder, from, toFolder, to, flags);
}

extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
    static const auto next = velm::test::real<int (*)(int, const char*, int, const char*)>("renameat");
    if (const int error = velm::test::waitWhileHeld(to); error != 0) {
        errno = error;
        return -1;
    }
    return next(fromFolder, from, toFolder, to);
}

extern "C" int unlinkat(int folder, const char* path, int flags) {
    static const auto next = velm::test::real<int (*)(int, const char*, int)>("unlinkat");
    if (const int error = velm::test::removeFault(path); error != 0) {
        errno = error;
        return -1;
    }
    return next(folder, path, flags);
}
