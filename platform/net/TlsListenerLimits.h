#pragma once

#include <chrono>
#include <cstddef>

namespace velm {

// What a TlsListener lets accepted connections hold. Anyone who reaches the port may open
// connections without a key, so none of these may be unbounded.
struct TlsListenerLimits {
    using Duration = std::chrono::steady_clock::duration;

    static constexpr std::chrono::seconds defaultHandshakeTimeout{8};
    static constexpr std::chrono::seconds defaultHelloTimeout{2};

    // From the accept to the end of the handshake.
    Duration handshakeTimeout = defaultHandshakeTimeout;
    // From the accept to the client's whole hello: an idle connection goes long before the handshake
    // time-out, while a slow network still has plenty.
    Duration helloTimeout = defaultHelloTimeout;
    // Unfinished handshakes one address may hold.
    std::size_t maxPendingPerSource = 4;
    // Accepted connections open at once, handshakes included: the host needs one session and a few
    // one-shot requests.
    std::size_t maxOpenChannels = 32;
};

} // namespace velm
