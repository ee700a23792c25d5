#pragma once

#include "platform/core/Bytes.h"
#include "platform/net/HostPort.h"
#include "platform/net/NetError.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

class Queue;
class TlsParameters;
class TlsStream;

// One TLS 1.2 pre-shared-key connection over TCP.
//
// Made unstarted, either by connect() or by a TlsListener. start(queue) begins it; from
// then on every state update and every completion is delivered on that queue, in order.
// The state runs setup -> preparing -> ready, and ends once, in failed (with an error
// that tells a TLS failure from any other) or cancelled. Sends made before ready are held
// until then. Dropping the last reference to a connection that was not cancelled closes
// it at once and delivers nothing more.
class TlsConnection {
public:
    enum class State { setup, preparing, ready, failed, cancelled };

    using Duration = std::chrono::steady_clock::duration;
    // The error is present with `failed`.
    using StateHandler = std::function<void(State, const std::optional<NetError>&)>;
    // isComplete: the peer closed its sending side and no more data will come.
    using ReceiveCompletion =
        std::function<void(Bytes data, bool isComplete, const std::optional<NetError>& error)>;
    // Called once the bytes are handed to the network, or with the error that stopped them.
    using SendCompletion = std::function<void(const std::optional<NetError>& error)>;

    static constexpr std::chrono::seconds defaultConnectTimeout{8};
    // A peer that stops reading may make the sender hold at most this many unsent bytes;
    // one byte more fails the connection with NetError::Kind::backlogFull.
    static constexpr std::size_t maxWriteBacklog = 8 * 1024 * 1024;
    // How long cancel() may spend flushing queued data and saying goodbye.
    static constexpr std::chrono::seconds gracefulCloseLimit{1};

    // An outgoing connection to a host and port, presenting the parameters' first key.
    // connectTimeout bounds the way to ready: name resolution, TCP and the handshake.
    static std::shared_ptr<TlsConnection> connect(const HostPort& target, const TlsParameters& parameters,
                                                  Duration connectTimeout = defaultConnectTimeout);

    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // May be set or cleared from any thread; the handler in place when an update is
    // delivered is the one called.
    void setOnState(StateHandler handler);

    // Call once.
    void start(std::shared_ptr<Queue> queue);

    // Completes when at least `minimum` bytes (at most `maximum`) are there, or the stream
    // ended, or the connection failed or was cancelled. Buffered data always comes first.
    void receive(std::size_t minimum, std::size_t maximum, ReceiveCompletion completion);
    void send(Bytes content, SendCompletion completion = {});

    // Graceful close: what was sent before is flushed, then close_notify, then the TCP
    // close, all within gracefulCloseLimit; pending receives end at once. Ends in
    // cancelled. Before start it closes silently.
    void cancel();
    // Hard close: queued data is dropped. Ends in cancelled.
    void forceCancel();

    // The queries below may be called from any thread.
    State state() const;
    // Keying material exported from the TLS session with this label and no context;
    // absent before the handshake completed.
    std::optional<Bytes> exportKeyingMaterial(std::string_view label, std::size_t length) const;
    // The negotiated suite number, e.g. 0xCCAC.
    std::optional<std::uint16_t> cipherSuite() const;
    // The pre-shared-key identity that admitted this connection.
    std::optional<std::string> pskIdentity() const;
    // The tag of the loan whose key admitted this connection (see TlsKeyLender); none when the
    // key was not lent.
    std::optional<std::uint64_t> lentKeyTag() const;
    // The interfaces whose address is this connection's local address.
    std::vector<std::string> interfaceNames() const;
    // The peer's numeric address.
    std::optional<std::string> remoteHost() const;

private:
    friend class TlsListener;
    explicit TlsConnection(std::shared_ptr<TlsStream> stream);

    std::shared_ptr<TlsStream> stream_;
};

} // namespace velm
