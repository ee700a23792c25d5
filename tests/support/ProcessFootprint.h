#pragma once

#include <cstddef>
#include <string>

namespace velm::test {

// What this process holds, for tests that flood the host and look at what it cost.
class ProcessFootprint {
public:
    // The sanitizers' shadow memory and quarantine would swamp any measure of the program's own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    static constexpr bool measuresMemory = false;
#else
    static constexpr bool measuresMemory = true;
#endif

    // Connections this process has open to the X server of `display` (":95", ":95.0"): those of its
    // Unix sockets (/proc/self/fd, /proc/net/unix) whose peer is that server's socket.
    static std::size_t x11Connections(const std::string& display);
    // What the process's heap holds in use now, in every arena and in blocks mapped on their own, in
    // bytes: unlike resident memory, it leaves out what the allocator keeps free for later, which
    // grows with the number of threads that allocated and with how their work happened to interleave.
    static std::size_t heapInUseBytes();
};

} // namespace velm::test
