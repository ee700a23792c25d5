#pragma once

#include "platform/net/HandshakeSlot.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsEngine.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <atomic>
#include <deque>
#include <mutex>

namespace velm {

class TlsContext;

// The machinery behind a TlsConnection: a TCP socket, the TLS engine and a deadline.
//
// Its state sits behind one lock, so a call does its work on the calling thread: a send to an
// idle socket is encrypted and written there, a receive is served there from what was already
// decrypted. Socket completions run on the owner's queue when that queue is a strand (on one
// of the stream's own otherwise), and what they bring the owner is handed over right there:
// reading, decrypting and the owner's parsing take no hop between threads. What a call brings
// goes through the owner's queue instead, since no caller expects its completion to run
// inside its own call.
class TlsStream : public std::enable_shared_from_this<TlsStream> {
public:
    using State = TlsConnection::State;
    using Duration = TlsConnection::Duration;
    using Strand = asio::strand<asio::io_context::executor_type>;
    using Socket = asio::basic_stream_socket<asio::ip::tcp, Strand>;

    // Where the stream is on its way; the moves allowed between phases are listed in one place
    // (TlsStream.cpp, canMove).
    enum class Phase {
        idle,        // made; an outgoing stream waits for start
        connecting,  // the name lookup and TCP
        handshaking, // TLS
        open,        // ready: data flows both ways
        flushing,    // a graceful close: what was sent goes out first,
        notifying,   // then close_notify,
        draining,    // then our side is shut and the peer's end awaited
        failing,     // failed; the alert saying why waits for the write in flight
        failed,
        cancelled,
    };

    // Ciphertext read from the socket at a time, during and after the handshake, and
    // plaintext decrypted ahead of the reader.
    static constexpr std::size_t handshakeReadChunk = 8 * 1024;
    static constexpr std::size_t readChunk = 256 * 1024;
    static constexpr std::size_t maxReadAhead = 1024 * 1024;
    // Plaintext encrypted into one socket write.
    static constexpr std::size_t writeBatch = 1024 * 1024;
    // Bytes that reading made for the peer (a warning refusing each request for a new handshake, say)
    // and that wait behind a write in flight; past them nothing more is read until the peer takes some.
    static constexpr std::size_t maxUnsentReplies = 64 * 1024;

    static std::shared_ptr<TlsStream> outgoing(const HostPort& target, const TlsParameters& parameters,
                                               Duration connectTimeout);
    // An accepted socket; its handshake begins now and must end within handshakeTimeout,
    // started or not. The slot is held until the handshake ends either way.
    static std::shared_ptr<TlsStream> accepted(Socket socket,
                                               const std::shared_ptr<const TlsContext>& context,
                                               Duration handshakeTimeout,
                                               std::shared_ptr<HandshakeSlot> handshakeSlot);

    TlsStream(Strand strand, const std::shared_ptr<const TlsContext>& context, TlsEngine::Role role);

    void setStateHandler(TlsConnection::StateHandler handler);
    void start(std::shared_ptr<Queue> queue);
    void receive(std::size_t minimum, std::size_t maximum, TlsConnection::ReceiveCompletion completion);
    void send(Bytes content, TlsConnection::SendCompletion completion);
    void cancel();
    void forceCancel();
    // The owner let go: close unless a graceful close is under way, and report nothing more.
    void release();
    // For the listener: fails an accepted connection whose handshake is still running with
    // `error`, or only while the client's whole first message (its hello) has not come; the
    // latter tells whether the handshake is over now (false: the hello came and it goes on).
    void abandonHandshake(NetError error);
    bool abandonHandshakeBeforeHello(NetError error);

    State state() const { return publicState_.load(); }
    const TlsEngine& engine() const { return engine_; }
    std::vector<std::string> interfaceNames() const;
    std::optional<std::string> remoteHost() const;

private:
    struct Receive {
        std::size_t minimum;
        std::size_t maximum;
        TlsConnection::ReceiveCompletion completion;
    };
    struct Send {
        Bytes content;
        TlsConnection::SendCompletion completion;
    };
    // The peer ended its stream; `error` tells an end without close_notify.
    struct PeerEnd {
        std::optional<NetError> error;
    };
    // Where a piece of work runs, which decides whether it may hand results over in place.
    enum class Caller { call, completion };

    // Everything below runs with `lock_` held, unless it says otherwise.
    bool isClosing() const;
    // Failing or ended: nothing more is read, written or served but the end.
    bool isOver() const;
    bool hasSocket() const;
    void moveTo(Phase phase);

    void begin();
    void armDeadline(asio::steady_timer::time_point when, std::string what);
    void onDeadline(const std::error_code& error);
    void resolve(const HostPort& target);
    void dial(const asio::ip::tcp::resolver::results_type& addresses);
    void connectHere(const asio::ip::tcp::resolver::results_type& addresses);
    void onDialled(const std::error_code& error);
    void onConnected();
    void continueHandshake();
    void becomeReady();

    void maybeRead();
    void onRead(const std::error_code& error, std::size_t size);
    void processInput();
    void decrypt();
    bool serveReceives();

    void maybeWrite();
    // True when the send just queued is to wait for a flush at the end of the owner's work.
    bool cork();
    void onWrite(const std::error_code& error);
    void wrote();

    void continueClose();
    void fail(NetError error);
    void endHandshake(const std::optional<NetError>& failure);
    void sendPendingAlert();
    // Ends the stream in `state`; every held completion gets `error`.
    void finish(State state, const NetError& error);
    void closeSocket(bool dialling);
    std::vector<TlsConnection::SendCompletion> takeSendCompletions();
    NetError endError() const;

    // Sets the public state and tells the owner.
    void report(State state, std::optional<NetError> error = std::nullopt);
    void announce(State state, std::optional<NetError> error = std::nullopt);
    void hand(std::function<void()> work);
    void handReceive(TlsConnection::ReceiveCompletion completion, Bytes data, bool isComplete,
                     std::optional<NetError> error);
    void handSends(std::vector<TlsConnection::SendCompletion> completions, std::optional<NetError> error);
    // Gives the owner what `hand` collected, then releases the lock.
    void handOver(std::unique_lock<std::mutex>& guard, Caller caller);
    // Without the lock: runs the collected work in order until none is left.
    void deliverHanded();

    Socket socket_;
    asio::ip::tcp::resolver resolver_;
    asio::steady_timer deadline_;
    TlsEngine engine_;
    HostPort target_;
    Duration connectTimeout_{};

    mutable std::mutex handlerLock_;
    TlsConnection::StateHandler onState_;
    std::atomic<State> publicState_{State::setup};

    mutable std::mutex pathLock_;
    std::optional<asio::ip::tcp::endpoint> localEndpoint_;
    std::optional<asio::ip::tcp::endpoint> remoteEndpoint_;

    // Guards everything below. Until TCP is up, the socket belongs to its strand, where the
    // connector runs.
    mutable std::mutex lock_;
    // Where socket and timer completions run.
    Strand home_;
    bool homeIsOwners_ = false;
    std::shared_ptr<Queue> queue_;
    bool released_ = false;
    std::deque<std::function<void()>> handed_;
    bool handing_ = false;

    Phase phase_ = Phase::idle;
    std::optional<NetError> endError_;
    std::shared_ptr<HandshakeSlot> handshakeSlot_;
    asio::steady_timer::time_point connectDeadline_{};
    std::string deadlineWhat_;
    // Touched on the socket's strand only: where the connector's result goes while it runs.
    std::optional<std::error_code>* dialledAtOnce_ = nullptr;

    bool readInFlight_ = false;
    bool needsCiphertext_ = true;
    std::optional<PeerEnd> peerEnd_;
    std::deque<Receive> receives_;
    std::unique_ptr<std::uint8_t[]> inbox_;
    std::size_t inboxBegin_ = 0;
    std::size_t inboxEnd_ = 0;

    bool writeInFlight_ = false;
    // Sends wait for the end of the owner's work under way, to leave together.
    bool corked_ = false;
    std::size_t sendsSinceRead_ = 0;
    std::deque<Send> sends_;
    std::size_t backlog_ = 0;
    Bytes writing_;
    std::size_t writingPlaintext_ = 0;
    std::vector<TlsConnection::SendCompletion> writingCompletions_;
};

} // namespace velm
