#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velm::test {

// Makes chosen system calls of this test process fail, to reach the error paths that a power cut,
// a full disk or a process out of descriptors would take, without any of them, or wait, as on a slow
// disk. This file defines accept, flock, fsync, linkat, open, openat, read, recvfrom, recvmsg, renameat,
// renameat2 and socket for the whole executable, passing every call on unless a fault is armed, so the code
// under test runs unchanged. Each test case runs in a process of its own.
class SystemCallFaults {
public:
    // Armed while it lives.
    class Fault {
    public:
        ~Fault();
        Fault(const Fault&) = delete;
        Fault& operator=(const Fault&) = delete;

    private:
        friend class SystemCallFaults;
        Fault() = default;
    };

    // fsync of a folder of this name (of any folder when empty) fails with EIO; files still sync.
    [[nodiscard]] static Fault failFolderSync(std::string name = {});
    // Opening an item of this name, in any folder, fails with `error` (EMFILE: no descriptors left).
    [[nodiscard]] static Fault failOpening(std::string name, int error);
    // Runs `action` once, on the opening thread, just before the next item of this name is opened (a
    // file replaced between a look at its path and its opening).
    [[nodiscard]] static Fault beforeOpening(std::string name, std::function<void()> action);
    // Reading a file of this name, in any folder, delivers its first `bytes` bytes (in pieces of at most
    // that many), then fails with `error` (EIO: the disk failed half-way).
    [[nodiscard]] static Fault failReadingAfter(std::string name, std::size_t bytes, int error);
    // An exclusive flock through a descriptor open only for reading fails with `error`, as on NFS (EBADF),
    // which takes such a lock as a write lock on the server; a folder can only be opened for reading.
    [[nodiscard]] static Fault failLockingReadOnly(int error);
    // Making a TCP socket fails with `error` (EMFILE: no descriptors left), so no listener can open.
    [[nodiscard]] static Fault failStreamSockets(int error);
    // Accepting a connection fails with `error` (EMFILE: no descriptors left), the connection staying in
    // the listening socket's backlog; acceptsFailed() counts the accepts failed so.
    [[nodiscard]] static Fault failAccepting(int error);
    static int acceptsFailed();
    // Receiving on the IPv4 UDP socket bound to this local port fails with `error` (ENOMEM: the system
    // ran out of memory), as a socket may fail while it waits for datagrams.
    [[nodiscard]] static Fault failReceivingOn(std::uint16_t port, int error);
    // Removing an item of this name, in any folder, fails with `error` (EROFS: a read-only file system).
    [[nodiscard]] static Fault failRemoving(std::string name, int error);
    // Renaming an item of this name, in any folder, fails with `error` (EPERM: an immutable file).
    [[nodiscard]] static Fault failRenaming(std::string name, int error);
    // Renaming without replacing fails with `renameFailure` and making a hard link with `linkFailure`, in
    // any folder, as on a file system that can do neither (EINVAL and EPERM: a FAT disk).
    [[nodiscard]] static Fault failMovesWithoutReplacing(int renameFailure, int linkFailure);

    // Holds the threads that put a file in place as an item of this name (renameat onto it), in any
    // folder: a store that has written the item's new contents waits there until the hold is released,
    // and at most `limit`, so that code which waits for the held thread makes its test fail, not hang.
    class Hold {
    public:
        static constexpr std::chrono::seconds limit{10};

        // Released when it ends.
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        // False when no thread came to be held within `limit`.
        [[nodiscard]] bool waitUntilHeld() const;
        // Lets the held threads go on; with an error, their renaming fails with it (EIO: the disk failed).
        void release(int error = 0) const;
        // True when a held thread went on because the hold lasted past `limit`.
        bool outlastedLimit() const;

    private:
        friend class SystemCallFaults;
        Hold() = default;
    };
    [[nodiscard]] static Hold holdRenamingOnto(std::string name);
};

} // namespace velm::test
