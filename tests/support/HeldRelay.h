#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace velm::test {

// A slow link on loopback: one client's TCP connection passed on to a server on 127.0.0.1, where what
// the server sends stops after its first `passed` bytes until release(). The relay's side of the
// server connection takes small segments into a small window, so the server's own socket buffer fills
// after a few kilobytes and the rest of what it sends waits in the server, as behind a slow uplink.
// It runs on a thread of its own until it is destroyed.
class HeldRelay {
public:
    HeldRelay(std::uint16_t serverPort, std::size_t passed);
    ~HeldRelay();
    HeldRelay(const HeldRelay&) = delete;
    HeldRelay& operator=(const HeldRelay&) = delete;

    // Where the client connects.
    std::uint16_t port() const { return port_; }
    // Everything the server sent and sends from now on is passed on.
    void release() { released_ = true; }

private:
    void run();
    bool relay(int client, int server);

    const std::uint16_t serverPort_;
    const std::size_t passed_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    // On the relay's thread only.
    std::size_t fromServer_ = 0;
    std::atomic<bool> released_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace velm::test
