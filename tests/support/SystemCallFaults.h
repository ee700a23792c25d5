#pragma once

#include <string>

namespace velm::test {

// Makes chosen system calls of this test process fail, to reach the error paths that a power cut,
// a full disk or a process out of descriptors would take, without any of them. This file defines
// fsync, openat, renameat2 and socket for the whole executable, passing every call on unless a fault is
// armed, so the code under test runs unchanged. Each test case runs in a process of its own.
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
    // Making a TCP socket fails with `error` (EMFILE: no descriptors left), so no listener can open.
    [[nodiscard]] static Fault failStreamSockets(int error);
    // Renaming an item of this name, in any folder, fails with `error` (EPERM: an immutable file).
    [[nodiscard]] static Fault failRenaming(std::string name, int error);
};

} // namespace velm::test
