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

// The machinery behind a TlsConnection: a TCP socket, the TLS engine and the timers,
// all driven on one strand of the network context. Callbacks hop to the owner's queue.
class TlsStream : public std::enable_shared_from_this<TlsStream> {
public:
    using State = TlsConnection::State;
    using Duration = TlsConnection::Duration;
    using Strand = asio::strand<asio::io_context::executor_type>;
    using Socket = asio::basic_stream_socket<asio::ip::tcp, Strand>;

    // Ciphertext read from the socket at a time, during and after the handshake, and
    // plaintext decrypted ahead of the reader.
    static constexpr std::size_t handshakeReadChunk = 8 * 1024;
    static constexpr std::size_t readChunk = 256 * 1024;
    static constexpr std::size_t maxReadAhead = 1024 * 1024;
    // Plaintext encrypted into one socket write.
    static constexpr std::size_t writeBatch = 1024 * 1024;

    static std::shared_ptr<TlsStream> outgoing(const HostPort& target, const TlsParameters& parameters,
                                               Duration connectTimeout);
    // An accepted socket; its handshake begins now and must end within handshakeTimeout,
    // started or not. The slot is held until the handshake ends either way, and told how.
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
    // `error`, or only while the client's whole first message (its hello) has not come.
    void abandonHandshake(NetError error);
    void abandonHandshakeBeforeHello(NetError error);

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

    bool hasEnded() const { return state_ == State::failed || state_ == State::cancelled; }
    // Ended, or about to once the write in flight has made way for the alert.
    bool isFinished() const { return hasEnded() || failureAfterWrite_.has_value(); }
    void setState(State state, std::optional<NetError> error = std::nullopt);
    void deliverState(State state, std::optional<NetError> error);

    void armDeadline(asio::steady_timer::time_point when, std::string what);
    void resolve(const HostPort& target);
    void connectTo(const asio::ip::tcp::resolver::results_type& addresses);
    void onConnected();
    void continueHandshake();
    void becomeReady();
    void endHandshake(const std::optional<NetError>& failure);

    void maybeRead();
    void onRead(const std::error_code& error, std::size_t size);
    void decrypt();
    bool serveReceives();
    void processInput();

    void maybeWrite();
    void onWrite(const std::error_code& error);

    void continueClose();
    void fail(NetError error);
    void sendPendingAlert();
    // Ends the stream in `state`; every held completion gets `error`.
    void finish(State state, const NetError& error);
    void closeSocket();
    std::vector<TlsConnection::SendCompletion> takeSendCompletions();

    void deliver(std::function<void()> work);
    void deliverReceive(TlsConnection::ReceiveCompletion completion, Bytes data, bool isComplete,
                        std::optional<NetError> error);
    void deliverSends(std::vector<TlsConnection::SendCompletion> completions, std::optional<NetError> error);
    NetError endError() const;

    Strand strand_;
    Socket socket_;
    asio::ip::tcp::resolver resolver_;
    asio::steady_timer deadline_;
    std::string deadlineWhat_;
    TlsEngine engine_;
    TlsEngine::Role role_;
    HostPort target_;
    Duration connectTimeout_{};
    asio::steady_timer::time_point connectDeadline_{};
    std::shared_ptr<HandshakeSlot> handshakeSlot_;

    std::shared_ptr<Queue> queue_;
    mutable std::mutex handlerLock_;
    TlsConnection::StateHandler onState_;
    std::atomic<State> publicState_{State::setup};

    // Everything below is touched on the strand only.
    State state_ = State::setup;
    std::optional<NetError> endError_;
    std::optional<NetError> failureAfterWrite_;
    bool started_ = false;
    bool released_ = false;
    bool connected_ = false;
    bool handshaking_ = false;
    bool closing_ = false;
    bool closeNotifySent_ = false;
    bool finSent_ = false;
    bool readInFlight_ = false;
    bool writeInFlight_ = false;
    bool engineStarved_ = true;
    bool peerFinished_ = false;
    std::optional<NetError> peerFinishError_;

    std::deque<Receive> receives_;
    std::unique_ptr<std::uint8_t[]> inbox_;
    std::size_t inboxBegin_ = 0;
    std::size_t inboxEnd_ = 0;

    std::deque<Send> sends_;
    std::size_t backlog_ = 0;
    Bytes writing_;
    std::size_t writingPlaintext_ = 0;
    std::vector<TlsConnection::SendCompletion> writingCompletions_;

    mutable std::mutex pathLock_;
    std::optional<asio::ip::tcp::endpoint> localEndpoint_;
    std::optional<asio::ip::tcp::endpoint> remoteEndpoint_;
};

} // namespace velm
