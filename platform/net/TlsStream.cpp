#include "platform/net/TlsStream.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/net/TcpConnector.h"
#include "platform/net/TlsParameters.h"

#include <algorithm>
#include <asio/defer.hpp>
#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cstring>
#include <utility>

namespace velm {

namespace {

const NetError cancelledError{NetError::Kind::cancelled, "connection cancelled"};

// Marks a completion as the next step of the handler that started the operation, so
// asio runs it on the same thread instead of waking another: a stream's work is serial
// anyway, and each hand-over between threads costs a wake-up.
template <typename Handler> struct Continuation {
    Handler handler;

    template <typename... Arguments> void operator()(Arguments&&... arguments) {
        handler(std::forward<Arguments>(arguments)...);
    }

    friend bool asio_handler_is_continuation(Continuation*) { return true; }
};

template <typename Handler> Continuation<Handler> continuation(Handler handler) {
    return {std::move(handler)};
}

asio::ip::address unmapped(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

} // namespace

std::shared_ptr<TlsStream> TlsStream::outgoing(const HostPort& target, const TlsParameters& parameters,
                                               Duration connectTimeout) {
    auto stream = std::make_shared<TlsStream>(asio::make_strand(IoPool::shared().context()),
                                              parameters.context(), TlsEngine::Role::client);
    stream->target_ = target;
    stream->connectTimeout_ = connectTimeout;
    return stream;
}

std::shared_ptr<TlsStream> TlsStream::accepted(Socket socket,
                                               const std::shared_ptr<const TlsContext>& context,
                                               Duration handshakeTimeout,
                                               std::shared_ptr<HandshakeSlot> handshakeSlot) {
    auto stream = std::make_shared<TlsStream>(socket.get_executor(), context, TlsEngine::Role::server);
    stream->socket_ = std::move(socket);
    stream->handshakeSlot_ = std::move(handshakeSlot);
    // The handshake runs from the accept, so a slow owner costs the peer no time; its
    // outcome is reported once the owner starts the connection.
    asio::dispatch(stream->strand_, [stream, handshakeTimeout] {
        stream->armDeadline(asio::steady_timer::clock_type::now() + handshakeTimeout, "handshake timed out");
        stream->onConnected();
        stream->handshaking_ = true;
        stream->continueHandshake();
    });
    return stream;
}

TlsStream::TlsStream(Strand strand, const std::shared_ptr<const TlsContext>& context, TlsEngine::Role role)
    : strand_(strand), socket_(strand), resolver_(strand), deadline_(strand), engine_(context, role),
      role_(role) {}

void TlsStream::setStateHandler(TlsConnection::StateHandler handler) {
    std::lock_guard guard(handlerLock_);
    onState_ = std::move(handler);
}

void TlsStream::start(std::shared_ptr<Queue> queue) {
    asio::dispatch(strand_, [self = shared_from_this(), queue = std::move(queue)] {
        if (self->started_ || !queue) {
            return;
        }
        self->started_ = true;
        self->queue_ = queue;
        switch (self->state_) {
        case State::cancelled:
            return;         // cancelled before start: silent
        case State::failed: // an accepted connection whose handshake failed before start
            self->deliverState(State::failed, self->endError_);
            self->serveReceives();
            self->deliverSends(self->takeSendCompletions(), self->endError());
            return;
        case State::ready: // an accepted connection whose handshake completed before start
            self->deliverState(State::preparing, std::nullopt);
            self->deliverState(State::ready, std::nullopt);
            self->processInput();
            return;
        case State::setup:
        case State::preparing:
            break;
        }
        self->setState(State::preparing);
        if (self->role_ == TlsEngine::Role::server) {
            return; // the handshake is under way
        }
        const auto now = asio::steady_timer::clock_type::now();
        self->connectDeadline_ = now + self->connectTimeout_;
        self->resolve(self->target_);
        // Unless TCP is up already (a numeric address that connected at once), it gets the
        // shorter of its own limit and the whole connect time-out.
        if (!self->connected_ && !self->isFinished()) {
            self->armDeadline(std::min(self->connectDeadline_, now + TlsParameters::tcpConnectionTimeout),
                              "connect timed out");
        }
    });
}

void TlsStream::receive(std::size_t minimum, std::size_t maximum,
                        TlsConnection::ReceiveCompletion completion) {
    maximum = std::max<std::size_t>(maximum, 1);
    minimum = std::clamp<std::size_t>(minimum, 1, std::min(maximum, maxReadAhead));
    // The next read is what a reader does last in its completion: deferred, the pool thread
    // that ran the completion carries on with it instead of waking another.
    asio::defer(strand_,
                [self = shared_from_this(), minimum, maximum, completion = std::move(completion)]() mutable {
                    self->receives_.push_back({minimum, maximum, std::move(completion)});
                    if (self->started_ && self->state_ != State::preparing) {
                        self->processInput();
                    }
                });
}

void TlsStream::send(Bytes content, TlsConnection::SendCompletion completion) {
    asio::post(strand_, [self = shared_from_this(), content = std::move(content),
                         completion = std::move(completion)]() mutable {
        if (self->isFinished() || self->closing_) {
            self->deliverSends({std::move(completion)}, self->closing_ ? cancelledError : self->endError());
            return;
        }
        const bool overflows = content.size() > TlsConnection::maxWriteBacklog - self->backlog_;
        self->backlog_ += overflows ? 0 : content.size();
        self->sends_.push_back({std::move(content), std::move(completion)});
        if (overflows) {
            self->fail({NetError::Kind::backlogFull, "peer stopped reading: write backlog full"});
            return;
        }
        self->maybeWrite();
    });
}

void TlsStream::cancel() {
    asio::dispatch(strand_, [self = shared_from_this()] {
        if (self->isFinished() || self->closing_) {
            return;
        }
        if (!self->started_ || self->state_ != State::ready) {
            self->finish(State::cancelled, cancelledError);
            return;
        }
        self->closing_ = true;
        self->inboxBegin_ = self->inboxEnd_ = 0;
        self->serveReceives();
        self->armDeadline(asio::steady_timer::clock_type::now() + TlsConnection::gracefulCloseLimit,
                          "graceful close timed out");
        self->maybeRead();
        self->continueClose();
    });
}

void TlsStream::forceCancel() {
    asio::dispatch(strand_, [self = shared_from_this()] { self->finish(State::cancelled, cancelledError); });
}

void TlsStream::release() {
    setStateHandler(nullptr);
    asio::post(strand_, [self = shared_from_this()] {
        self->released_ = true;
        if (!self->closing_) {
            self->finish(State::cancelled, cancelledError);
        }
    });
}

void TlsStream::abandonHandshake(NetError error) {
    asio::dispatch(strand_, [self = shared_from_this(), error = std::move(error)]() mutable {
        if (self->handshaking_) {
            self->fail(std::move(error));
        }
    });
}

void TlsStream::abandonHandshakeBeforeHello(NetError error) {
    asio::dispatch(strand_, [self = shared_from_this(), error = std::move(error)]() mutable {
        if (self->handshaking_ && !self->engine_.hasHeardHello()) {
            self->fail(std::move(error));
        }
    });
}

std::vector<std::string> TlsStream::interfaceNames() const {
    std::optional<asio::ip::tcp::endpoint> local;
    {
        std::lock_guard guard(pathLock_);
        local = localEndpoint_;
    }
    return local ? interfaceNamesOf(local->address()) : std::vector<std::string>{};
}

std::optional<std::string> TlsStream::remoteHost() const {
    std::lock_guard guard(pathLock_);
    if (!remoteEndpoint_) {
        return std::nullopt;
    }
    return unmapped(remoteEndpoint_->address()).to_string();
}

void TlsStream::setState(State state, std::optional<NetError> error) {
    state_ = state;
    publicState_ = state;
    deliverState(state, std::move(error));
}

void TlsStream::deliverState(State state, std::optional<NetError> error) {
    deliver([self = shared_from_this(), state, error = std::move(error)] {
        TlsConnection::StateHandler handler;
        {
            std::lock_guard guard(self->handlerLock_);
            handler = self->onState_;
        }
        if (handler) {
            handler(state, error);
        }
    });
}

void TlsStream::armDeadline(asio::steady_timer::time_point when, std::string what) {
    deadlineWhat_ = std::move(what);
    deadline_.expires_at(when);
    deadline_.async_wait([self = shared_from_this()](const std::error_code& error) {
        // A wait that was re-armed meanwhile is not this deadline.
        if (error || self->deadline_.expiry() > asio::steady_timer::clock_type::now()) {
            return;
        }
        if (self->failureAfterWrite_) {
            const NetError failure = *self->failureAfterWrite_; // the peer never took our bytes
            self->finish(State::failed, failure);
            return;
        }
        if (self->isFinished() || (self->state_ == State::ready && !self->closing_)) {
            return; // a ready, open connection has no deadline
        }
        if (self->closing_) {
            self->finish(State::cancelled, cancelledError);
        } else {
            self->fail({NetError::Kind::timedOut, self->deadlineWhat_});
        }
    });
}

void TlsStream::resolve(const HostPort& target) {
    std::error_code notNumeric;
    const asio::ip::address address = asio::ip::make_address(target.host, notNumeric);
    if (!notNumeric) {
        // A numeric address needs no trip through the resolver's thread.
        connectTo(asio::ip::tcp::resolver::results_type::create(asio::ip::tcp::endpoint(address, target.port),
                                                                target.host, std::to_string(target.port)));
        return;
    }
    resolver_.async_resolve(
        target.host, std::to_string(target.port), asio::ip::resolver_base::numeric_service,
        [self = shared_from_this()](const std::error_code& error,
                                    const asio::ip::tcp::resolver::results_type& addresses) {
            if (self->isFinished()) {
                return;
            }
            if (error || addresses.empty()) {
                self->fail({NetError::Kind::unreachable, "cannot resolve host: " + error.message()});
                return;
            }
            self->connectTo(addresses);
        });
}

void TlsStream::connectTo(const asio::ip::tcp::resolver::results_type& addresses) {
    TcpConnector::connect(socket_, addresses, [self = shared_from_this()](const std::error_code& error) {
        if (self->isFinished()) {
            return;
        }
        if (error) {
            self->fail(NetError::fromSystem(error));
            return;
        }
        if (self->deadline_.expiry() != self->connectDeadline_) {
            self->armDeadline(self->connectDeadline_, "handshake timed out");
        } else {
            self->deadlineWhat_ = "handshake timed out";
        }
        self->onConnected();
        self->handshaking_ = true;
        self->continueHandshake();
    });
}

void TlsStream::onConnected() {
    if (isFinished()) {
        return;
    }
    connected_ = true;
    TlsParameters::applyTcpOptions(socket_.native_handle());
    std::error_code ignored;
    std::lock_guard guard(pathLock_);
    localEndpoint_ = socket_.local_endpoint(ignored);
    remoteEndpoint_ = socket_.remote_endpoint(ignored);
}

void TlsStream::continueHandshake() {
    if (isFinished()) {
        return;
    }
    const TlsEngine::Status status = engine_.handshake();
    if (status != TlsEngine::Status::ok && status != TlsEngine::Status::wantsInput) {
        fail(engine_.error());
        return;
    }
    maybeWrite();
    if (status == TlsEngine::Status::ok) {
        becomeReady();
        return;
    }
    engineStarved_ = true;
    maybeRead();
}

void TlsStream::becomeReady() {
    handshaking_ = false;
    // The connect deadline is left to expire unheeded: cancelling it would wake another pool
    // thread for the cancelled wait, right on the way to ready.
    endHandshake(std::nullopt);
    setState(State::ready);
    engineStarved_ = false; // the last flight may have carried application data
    processInput();
    maybeWrite();
}

void TlsStream::maybeRead() {
    if (readInFlight_ || !connected_ || isFinished() || peerFinished_) {
        return;
    }
    // Undecrypted ciphertext waits for the reader to make room; closing only drains the socket.
    if (!handshaking_ && !closing_ && !engineStarved_) {
        return;
    }
    const std::span<std::uint8_t> space = engine_.inboundSpace(handshaking_ ? handshakeReadChunk : readChunk);
    readInFlight_ = true;
    socket_.async_read_some(
        asio::buffer(space.data(), space.size()),
        continuation([self = shared_from_this()](const std::error_code& error, std::size_t size) {
            self->onRead(error, size);
        }));
}

void TlsStream::onRead(const std::error_code& error, std::size_t size) {
    readInFlight_ = false;
    if (isFinished()) {
        return;
    }
    if (closing_) {
        // What the peer sends now is dropped; its end of stream completes our close.
        if (error) {
            peerFinished_ = true;
            continueClose();
        } else {
            maybeRead();
        }
        return;
    }
    if (error == asio::error::eof) {
        engine_.commitEnd();
    } else if (error) {
        fail(NetError::fromSystem(error));
        return;
    } else {
        engine_.commitInbound(size);
    }
    engineStarved_ = false;
    if (handshaking_) {
        continueHandshake();
    } else {
        processInput();
    }
}

void TlsStream::processInput() {
    do {
        decrypt();
    } while (serveReceives());
    maybeRead();
    maybeWrite(); // reading may have produced an alert to send
}

void TlsStream::decrypt() {
    if (engineStarved_ || peerFinished_ || closing_ || isFinished() || state_ != State::ready) {
        return;
    }
    if (!inbox_) {
        inbox_ = std::make_unique_for_overwrite<std::uint8_t[]>(maxReadAhead);
    }
    if (inboxBegin_ == inboxEnd_) {
        inboxBegin_ = inboxEnd_ = 0;
    } else if (inboxBegin_ > 0 && maxReadAhead - inboxEnd_ < maxReadAhead / 4) {
        std::memmove(inbox_.get(), inbox_.get() + inboxBegin_, inboxEnd_ - inboxBegin_);
        inboxEnd_ -= inboxBegin_;
        inboxBegin_ = 0;
    }
    if (inboxEnd_ == maxReadAhead) {
        return;
    }
    std::size_t filled = 0;
    const TlsEngine::Status status =
        engine_.read({inbox_.get() + inboxEnd_, maxReadAhead - inboxEnd_}, filled);
    inboxEnd_ += filled;
    switch (status) {
    case TlsEngine::Status::ok:
        break;
    case TlsEngine::Status::wantsInput:
        engineStarved_ = true;
        break;
    case TlsEngine::Status::closed:
        peerFinished_ = true;
        break;
    case TlsEngine::Status::failed: {
        NetError error = engine_.error();
        if (error.kind == NetError::Kind::closed) {
            peerFinished_ = true; // the stream ended without close_notify
            peerFinishError_ = std::move(error);
        } else {
            fail(std::move(error));
        }
        break;
    }
    }
}

bool TlsStream::serveReceives() {
    if (!started_) {
        return false; // nowhere to deliver yet
    }
    bool served = false;
    while (!receives_.empty()) {
        Receive& receive = receives_.front();
        const std::size_t available = inboxEnd_ - inboxBegin_;
        const bool ended = peerFinished_ || closing_ || isFinished();
        if (available > 0 && (available >= receive.minimum || ended)) {
            const std::size_t count = std::min(available, receive.maximum);
            Bytes data(inbox_.get() + inboxBegin_, inbox_.get() + inboxBegin_ + count);
            inboxBegin_ += count;
            const bool complete = peerFinished_ && !isFinished() && inboxBegin_ == inboxEnd_;
            deliverReceive(std::move(receive.completion), std::move(data), complete,
                           complete ? peerFinishError_ : std::nullopt);
        } else if (ended) {
            if (closing_ || isFinished()) {
                deliverReceive(std::move(receive.completion), {}, false,
                               closing_ ? cancelledError : endError());
            } else {
                deliverReceive(std::move(receive.completion), {}, true, peerFinishError_);
            }
        } else {
            break;
        }
        receives_.pop_front();
        served = true;
    }
    return served;
}

void TlsStream::maybeWrite() {
    if (writeInFlight_ || !connected_ || isFinished()) {
        return;
    }
    if (state_ == State::ready && started_ && !closeNotifySent_) {
        while (!sends_.empty() && writingPlaintext_ < writeBatch) {
            Send& send = sends_.front();
            if (engine_.write(send.content) != TlsEngine::Status::ok) {
                fail(engine_.error());
                return;
            }
            writingPlaintext_ += send.content.size();
            writingCompletions_.push_back(std::move(send.completion));
            sends_.pop_front();
        }
    }
    engine_.takeOutput(writing_);
    if (writing_.empty()) {
        if (!writingCompletions_.empty()) { // only empty sends were taken
            deliverSends(std::exchange(writingCompletions_, {}), std::nullopt);
        }
        return;
    }
    writeInFlight_ = true;
    asio::async_write(socket_, asio::buffer(writing_),
                      continuation([self = shared_from_this()](const std::error_code& error, std::size_t) {
                          self->onWrite(error);
                      }));
}

void TlsStream::onWrite(const std::error_code& error) {
    writeInFlight_ = false;
    if (failureAfterWrite_ && !hasEnded()) {
        const NetError failure = *failureAfterWrite_;
        if (!error) {
            sendPendingAlert();
        }
        finish(State::failed, failure);
        return;
    }
    if (isFinished()) {
        return;
    }
    if (error) {
        fail(NetError::fromSystem(error));
        return;
    }
    backlog_ -= writingPlaintext_;
    writingPlaintext_ = 0;
    if (!writingCompletions_.empty()) {
        deliverSends(std::exchange(writingCompletions_, {}), std::nullopt);
    }
    if (closing_) {
        continueClose();
    } else {
        maybeWrite();
    }
}

void TlsStream::continueClose() {
    if (writeInFlight_ || isFinished()) {
        return;
    }
    if (!sends_.empty()) {
        maybeWrite();
        return;
    }
    if (!closeNotifySent_) {
        closeNotifySent_ = true;
        engine_.shutdown();
        maybeWrite();
        if (writeInFlight_) {
            return;
        }
    }
    if (!finSent_) {
        finSent_ = true;
        std::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
    }
    // Closing with unread data would reset the connection and could cost the peer our
    // last bytes, so the socket closes once the peer has closed its side too.
    if (peerFinished_) {
        finish(State::cancelled, cancelledError);
    } else {
        maybeRead();
    }
}

void TlsStream::fail(NetError error) {
    if (isFinished()) {
        return;
    }
    if (closing_) {
        finish(State::cancelled, cancelledError);
        return;
    }
    if (connected_ && writeInFlight_ && engine_.hasOutput()) {
        // The alert telling the peer why has to follow the bytes being written.
        failureAfterWrite_ = error;
        endError_ = std::move(error);
        armDeadline(asio::steady_timer::clock_type::now() + TlsConnection::gracefulCloseLimit, "");
        return;
    }
    sendPendingAlert();
    finish(State::failed, error);
}

void TlsStream::sendPendingAlert() {
    if (!connected_) {
        return;
    }
    // One attempt, never waiting: the alert only helps the peer name the failure.
    engine_.takeOutput(writing_);
    if (!writing_.empty()) {
        std::error_code ignored;
        socket_.non_blocking(true, ignored);
        socket_.write_some(asio::buffer(writing_), ignored);
    }
}

void TlsStream::finish(State state, const NetError& error) {
    if (hasEnded()) {
        return;
    }
    failureAfterWrite_.reset();
    deadline_.cancel();
    resolver_.cancel();
    closeSocket();
    endHandshake(state == State::failed ? std::optional(error) : std::nullopt);
    state_ = state;
    endError_ = error;

    if (!started_) {
        publicState_ = state; // start reports it; held completions wait for that
        return;
    }
    serveReceives();
    deliverSends(takeSendCompletions(), error);
    setState(state, state == State::failed ? std::optional(error) : std::nullopt);
}

void TlsStream::endHandshake(const std::optional<NetError>& failure) {
    if (const auto slot = std::exchange(handshakeSlot_, nullptr)) {
        slot->handshakeEnded(failure, engine_.offeredIdentity());
    }
}

std::vector<TlsConnection::SendCompletion> TlsStream::takeSendCompletions() {
    std::vector<TlsConnection::SendCompletion> completions = std::exchange(writingCompletions_, {});
    for (auto& send : sends_) {
        completions.push_back(std::move(send.completion));
    }
    sends_.clear();
    backlog_ = 0;
    writingPlaintext_ = 0;
    return completions;
}

void TlsStream::closeSocket() {
    std::error_code ignored;
    socket_.close(ignored);
}

void TlsStream::deliver(std::function<void()> work) {
    if (queue_ && !released_) {
        queue_->defer(std::move(work));
    }
}

void TlsStream::deliverReceive(TlsConnection::ReceiveCompletion completion, Bytes data, bool isComplete,
                               std::optional<NetError> error) {
    if (!completion) {
        return;
    }
    deliver([completion = std::move(completion), data = std::move(data), isComplete,
             error = std::move(error)]() mutable { completion(std::move(data), isComplete, error); });
}

void TlsStream::deliverSends(std::vector<TlsConnection::SendCompletion> completions,
                             std::optional<NetError> error) {
    std::erase_if(completions, [](const auto& completion) { return !completion; });
    if (completions.empty()) {
        return;
    }
    deliver([completions = std::move(completions), error = std::move(error)] {
        for (const auto& completion : completions) {
            completion(error);
        }
    });
}

NetError TlsStream::endError() const {
    return endError_.value_or(cancelledError);
}

} // namespace velm
