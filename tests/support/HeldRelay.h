#pragma once

#include "tests/support/RawTls.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace velm::test {

// A slow link on loopback: one client's TCP connection passed on to a server on 127.0.0.1, where what
// the server sends stops after its first `passed` bytes until release(). The relay reaches the server
// through a small window (RawSocket::connectThroughSmallWindow), so the rest of what the server sends
// waits in the server, as behind a slow uplink. It runs on a thread of its own until it is destroyed.
class HeldRelay {
public:
    HeldRelay(std::uint16_t serverPort, std::size_t passed);
    ~HeldRelay();
    HeldRelay(const HeldRelay&) = delete;
    HeldRelay& operator=(const HeldRelay&) = delete;

    // Where the client connects.
    std::uint16_t port() const { return listener_.port(); }
    // Everything the server sent and sends from now on is passed on.
    void release() { released_ = true; }

private:
    void run();
    // One round of passing on; false once either side closed.
    bool relay(RawSocket& client, RawSocket& server);

    const std::uint16_t serverPort_;
    const std::size_t passed_;
    RawListener listener_;
    // On the relay's thread only.
    std::size_t fromServer_ = 0;
    std::atomic<bool> released_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace velm::test
