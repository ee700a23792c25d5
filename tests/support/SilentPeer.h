#pragma once

#include "platform/net/Endpoint.h"

#include <cstdint>

namespace velm::test {

// A TCP port on loopback that takes connections into its backlog and never says a word, so a
// client's TLS handshake neither completes nor fails.
class SilentPeer {
public:
    SilentPeer();
    ~SilentPeer();
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;

    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", port_); }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace velm::test
