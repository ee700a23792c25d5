#pragma once

#include "platform/net/NetError.h"
#include "platform/net/TlsListenerLimits.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

class Queue;
class TlsConnection;
class TlsParameters;

// Listens for TLS pre-shared-key connections on all addresses, IPv4 and IPv6, with local
// address reuse, and admits exactly the parameters' keys. Accepted connections are handed
// over unstarted: their handshake already runs, but nothing is reported until the owner
// starts them.
//
// Connections without a key must not be able to lock paired devices out. Each must send its
// whole hello within the hello time-out and finish its handshake within the handshake
// time-out, both counted from the accept. At most maxPendingHandshakes may be on their way at
// once, and a few per source address: a newcomer beyond either takes the place of an older
// unfinished handshake (of its own address first), never the other way round: of the oldest
// that has not sent its whole hello, and of the oldest of all only when every place holds a
// client whose hello came, so idle sockets never push out a handshake under way. At most
// maxOpenChannels accepted connections, handshakes included, may be open at once; a newcomer
// beyond that is closed as soon as it is accepted.
//
// The state runs setup -> ready and ends once in failed or cancelled. State updates and
// accepted connections are delivered on the queue given to start. Dropping the last
// reference closes the port and delivers nothing more.
class TlsListener {
public:
    enum class State { setup, ready, failed, cancelled };

    using Duration = std::chrono::steady_clock::duration;
    // The error is present with `failed`; a taken port fails with NetError::Kind::addressInUse.
    using StateHandler = std::function<void(State, const std::optional<NetError>&)>;
    using ConnectionHandler = std::function<void(std::shared_ptr<TlsConnection>)>;
    // A handshake failed at the TLS level (a wrong key, an unknown identity, a broken message),
    // with the pre-shared-key identity the client offered, if it offered one. Connections that
    // time out or close on their way are not reported.
    using HandshakeFailedHandler = std::function<void(std::optional<std::string> identity)>;
    using Limits = TlsListenerLimits;

    static constexpr std::size_t maxPendingHandshakes = 16;
    static constexpr auto defaultHandshakeTimeout = Limits::defaultHandshakeTimeout;

    // Binds nothing yet; start binds `port`, or one the system picks when none is given.
    static std::shared_ptr<TlsListener> make(const TlsParameters& parameters,
                                             std::optional<std::uint16_t> port, Limits limits = {});

    ~TlsListener();
    TlsListener(const TlsListener&) = delete;
    TlsListener& operator=(const TlsListener&) = delete;

    // Both may be set or cleared from any thread. Without a connection handler, accepted
    // connections are closed.
    void setOnState(StateHandler handler);
    void setOnConnection(ConnectionHandler handler);
    // Called on the queue given to start.
    void setOnHandshakeFailed(HandshakeFailedHandler handler);

    // Call once.
    void start(std::shared_ptr<Queue> queue);
    // Connections accepted from now on are checked against these parameters' keys. The port stays
    // open, and connections accepted before keep the keys they came in with.
    void setParameters(const TlsParameters& parameters);
    // Closes the port; connections already handed over live on.
    void cancel();

    // The bound port; 0 until ready.
    std::uint16_t port() const;

private:
    class Core;
    explicit TlsListener(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};

} // namespace velm
