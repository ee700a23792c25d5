#pragma once

#include "platform/net/NetError.h"

#include <optional>
#include <string>

namespace velm {

// A listener's hold on an accepted connection while its handshake runs: the connection keeps it
// until the handshake ends either way, then tells how and lets go.
class HandshakeSlot {
public:
    virtual ~HandshakeSlot() = default;

    // Called once, on the connection's strand: the failure when the handshake failed (none when it
    // completed or the connection was closed by its owner), and the pre-shared-key identity the
    // client offered, if it got as far as offering one.
    virtual void handshakeEnded(const std::optional<NetError>& failure,
                                const std::optional<std::string>& offeredIdentity) = 0;
};

} // namespace velm
