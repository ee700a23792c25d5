#include "platform/net/TlsStream.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/StrandQueue.h"
#include "platform/log/Log.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/net/TcpConnector.h"
#include "platform/net/TlsParameters.h"

#include <algorithm>
#include <asio/defer.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cassert>
#include <cstring>
#include <exception>
#include <utility>

namespace velm {

namespace {

using Phase = TlsStream::Phase;

const Log tlsStreamLog("net");
const NetError cancelledError{NetError::Kind::cancelled, "connection cancelled"};

// A completion bound to a strand and marked as the next step of the work that started its
// operation, so asio runs it on the same thread instead of waking another: each hand-over
// between threads costs a wake-up.
template <typename Handler> struct OnStrand {
    using executor_type = TlsStream::Strand;

    executor_type strand;
    Handler handler;

    executor_type get_executor() const noexcept { return strand; }

    template <typename... Arguments> void operator()(Arguments&&... arguments) {
        handler(std::forward<Arguments>(arguments)...);
    }

    friend bool asio_handler_is_continuation(OnStrand*) { return true; }
};

template <typename Handler> OnStrand<Handler> onStrand(const TlsStream::Strand& strand, Handler handler) {
    return {strand, std::move(handler)};
}

bool isEnd(Phase phase) {
    return phase == Phase::failed || phase == Phase::cancelled;
}

// Every move between phases. Any phase short of the end may end; a graceful close and a
// failure that waits for its alert run their course.
bool canMove(Phase from, Phase to) {
    switch (from) {
    case Phase::idle:
        return to == Phase::connecting || to == Phase::handshaking || isEnd(to);
    case Phase::connecting:
        return to == Phase::handshaking || isEnd(to);
    case Phase::handshaking:
        return to == Phase::open || to == Phase::failing || isEnd(to);
    case Phase::open:
        return to == Phase::flushing || to == Phase::failing || isEnd(to);
    case Phase::flushing:
        return to == Phase::notifying || to == Phase::cancelled;
    case Phase::notifying:
        return to == Phase::draining || to == Phase::cancelled;
    case Phase::draining:
        return to == Phase::cancelled;
    case Phase::failing:
        return isEnd(to);
    case Phase::failed:
    case Phase::cancelled:
        return false;
    }
    return false;
}

asio::ip::address unmappedPeer(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

bool wouldBlock(const std::error_code& error) {
    return error == asio::error::would_block || error == asio::error::try_again;
}

// Now plus `limit`, held at the clock's end: a limit may be as long as its type allows, and one
// that wrapped round would lie in the past and end the connection at once.
asio::steady_timer::time_point deadlineAfter(TlsStream::Duration limit) {
    using TimePoint = asio::steady_timer::time_point;
    const TimePoint now = asio::steady_timer::clock_type::now();
    return limit > TimePoint::max() - now ? TimePoint::max() : now + limit;
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
    // The handshake runs from the accept, so a slow owner costs the peer no time; its
    // outcome is reported once the owner starts the connection.
    std::lock_guard guard(stream->lock_);
    stream->socket_ = std::move(socket);
    std::error_code ignored;
    stream->socket_.non_blocking(true, ignored); // writes from a caller's thread must never wait
    stream->handshakeSlot_ = std::move(handshakeSlot);
    stream->moveTo(Phase::handshaking);
    stream->armDeadline(deadlineAfter(handshakeTimeout), "handshake timed out");
    stream->onConnected();
    stream->continueHandshake();
    return stream;
}

TlsStream::TlsStream(Strand strand, const std::shared_ptr<const TlsContext>& context, TlsEngine::Role role)
    : socket_(strand), resolver_(strand), deadline_(strand), engine_(context, role), home_(strand) {}

void TlsStream::setStateHandler(TlsConnection::StateHandler handler) {
    std::lock_guard guard(handlerLock_);
    onState_ = std::move(handler);
}

void TlsStream::start(std::shared_ptr<Queue> queue) {
    if (!queue) {
        return;
    }
    std::unique_lock guard(lock_);
    if (queue_) {
        return;
    }
    queue_ = std::move(queue);
    if (const auto* strandQueue = dynamic_cast<const StrandQueue*>(queue_.get())) {
        home_ = strandQueue->strand();
        homeIsOwners_ = true;
        if (phase_ == Phase::idle) {
            socket_ = Socket(home_); // not open yet: the connector may run right in the owner's work
        }
    }
    begin();
    handOver(guard, Caller::call);
}

void TlsStream::begin() {
    switch (phase_) {
    case Phase::cancelled: // cancelled before start: silent
        return;
    case Phase::failed: // an accepted connection whose handshake failed before start
        announce(State::failed, endError_);
        serveReceives();
        handSends(takeSendCompletions(), endError());
        return;
    case Phase::open: // an accepted connection whose handshake completed before start
        announce(State::preparing);
        announce(State::ready);
        processInput();
        return;
    case Phase::handshaking: // an accepted connection on its way
    case Phase::failing:
        report(State::preparing);
        return;
    case Phase::idle:
        break;
    case Phase::connecting:
    case Phase::flushing:
    case Phase::notifying:
    case Phase::draining:
        return; // not before start
    }
    report(State::preparing);
    moveTo(Phase::connecting);
    connectDeadline_ = deadlineAfter(connectTimeout_);
    resolve(target_);
}

void TlsStream::receive(std::size_t minimum, std::size_t maximum,
                        TlsConnection::ReceiveCompletion completion) {
    maximum = std::max<std::size_t>(maximum, 1);
    minimum = std::clamp<std::size_t>(minimum, 1, std::min(maximum, maxReadAhead));
    std::unique_lock guard(lock_);
    receives_.push_back({minimum, maximum, std::move(completion)});
    if (queue_ && phase_ != Phase::connecting && phase_ != Phase::handshaking && phase_ != Phase::failing) {
        processInput();
    }
    handOver(guard, Caller::call);
}

void TlsStream::send(Bytes content, TlsConnection::SendCompletion completion) {
    std::unique_lock guard(lock_);
    if (isOver() || isClosing()) {
        handSends({std::move(completion)}, isClosing() ? cancelledError : endError());
    } else {
        const bool overflows = content.size() > TlsConnection::maxWriteBacklog - backlog_;
        backlog_ += overflows ? 0 : content.size();
        sends_.push_back({std::move(content), std::move(completion)});
        if (overflows) {
            fail({NetError::Kind::backlogFull, "peer stopped reading: write backlog full"});
        } else if (!corked_ && !cork()) {
            maybeWrite();
        }
        ++sendsSinceRead_;
    }
    handOver(guard, Caller::call);
}

void TlsStream::cancel() {
    std::unique_lock guard(lock_);
    if (isOver() || isClosing()) {
        return;
    }
    if (!queue_ || phase_ != Phase::open) {
        finish(State::cancelled, cancelledError);
    } else {
        moveTo(Phase::flushing);
        inboxBegin_ = inboxEnd_ = 0;
        serveReceives();
        armDeadline(asio::steady_timer::clock_type::now() + TlsConnection::gracefulCloseLimit,
                    "graceful close timed out");
        maybeRead();
        continueClose();
    }
    handOver(guard, Caller::call);
}

void TlsStream::forceCancel() {
    std::unique_lock guard(lock_);
    finish(State::cancelled, cancelledError);
    handOver(guard, Caller::call);
}

void TlsStream::abandonHandshake(NetError error) {
    std::unique_lock guard(lock_);
    if (phase_ == Phase::handshaking) {
        fail(std::move(error));
    }
    handOver(guard, Caller::call);
}

bool TlsStream::abandonHandshakeBeforeHello(NetError error) {
    std::unique_lock guard(lock_);
    const bool handshaking = phase_ == Phase::handshaking;
    const bool goesOn = handshaking && engine_.hasHeardHello();
    if (handshaking && !goesOn) {
        fail(std::move(error));
    }
    handOver(guard, Caller::call);
    return !goesOn;
}

void TlsStream::release() {
    setStateHandler(nullptr);
    std::deque<std::function<void()>> dropped; // let go of outside the lock: the owner's code
    std::lock_guard guard(lock_);
    released_ = true;
    dropped.swap(handed_);
    if (!isClosing()) {
        finish(State::cancelled, cancelledError);
    }
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
    return unmappedPeer(remoteEndpoint_->address()).to_string();
}

bool TlsStream::isClosing() const {
    return phase_ == Phase::flushing || phase_ == Phase::notifying || phase_ == Phase::draining;
}

bool TlsStream::isOver() const {
    return phase_ == Phase::failing || isEnd(phase_);
}

bool TlsStream::hasSocket() const {
    return phase_ == Phase::handshaking || phase_ == Phase::open || isClosing() || phase_ == Phase::failing;
}

void TlsStream::moveTo(Phase phase) {
    assert(canMove(phase_, phase));
    if (canMove(phase_, phase)) {
        phase_ = phase;
    }
}

void TlsStream::armDeadline(asio::steady_timer::time_point when, std::string what) {
    deadlineWhat_ = std::move(what);
    deadline_.expires_at(when);
    deadline_.async_wait(onStrand(
        home_, [self = shared_from_this()](const std::error_code& error) { self->onDeadline(error); }));
}

void TlsStream::onDeadline(const std::error_code& error) {
    std::unique_lock guard(lock_);
    // A wait that was re-armed meanwhile is not this deadline; a ready, open connection has none.
    if (!error && deadline_.expiry() <= asio::steady_timer::clock_type::now()) {
        if (phase_ == Phase::failing) {
            finish(State::failed, endError()); // the peer never took our bytes
        } else if (isClosing()) {
            finish(State::cancelled, cancelledError);
        } else if (phase_ == Phase::connecting || phase_ == Phase::handshaking) {
            fail({NetError::Kind::timedOut, deadlineWhat_});
        }
    }
    handOver(guard, Caller::completion);
}

void TlsStream::resolve(const HostPort& target) {
    if (!namesAPeer(target.host)) {
        fail({NetError::Kind::unreachable, "cannot resolve host: no valid name"});
        return;
    }
    std::error_code notNumeric;
    const asio::ip::address address = asio::ip::make_address(target.host, notNumeric);
    if (!notNumeric) {
        // A numeric address needs no trip through the resolver's thread.
        dial(asio::ip::tcp::resolver::results_type::create(asio::ip::tcp::endpoint(address, target.port),
                                                           target.host, std::to_string(target.port)));
        return;
    }
    armDeadline(connectDeadline_, "connect timed out"); // the lookup may take a while
    resolver_.async_resolve(
        target.host, std::to_string(target.port), asio::ip::resolver_base::numeric_service,
        onStrand(home_, [self = shared_from_this()](const std::error_code& error,
                                                    const asio::ip::tcp::resolver::results_type& addresses) {
            std::unique_lock guard(self->lock_);
            if (self->phase_ == Phase::connecting) {
                if (error || addresses.empty()) {
                    self->fail({NetError::Kind::unreachable, "cannot resolve host: " + error.message()});
                } else {
                    self->dial(addresses);
                }
            }
            self->handOver(guard, Caller::completion);
        }));
}

// The connector runs on the socket's strand (the owner's, when that is one), where its own
// completions touch the socket without the lock: until TCP is up nothing else touches the
// socket but a close, which goes there too.
void TlsStream::dial(const asio::ip::tcp::resolver::results_type& addresses) {
    if (socket_.get_executor().running_in_this_thread()) {
        connectHere(addresses);
        return;
    }
    asio::defer(socket_.get_executor(), [self = shared_from_this(), addresses] {
        std::unique_lock guard(self->lock_);
        if (self->phase_ == Phase::connecting) {
            self->connectHere(addresses);
        }
        self->handOver(guard, Caller::completion);
    });
}

// The connector may complete within the call, while the lock is held, or later from a
// completion of its own.
void TlsStream::connectHere(const asio::ip::tcp::resolver::results_type& addresses) {
    std::optional<std::error_code> atOnce;
    dialledAtOnce_ = &atOnce;
    TcpConnector::connect(socket_, addresses, [self = shared_from_this()](const std::error_code& error) {
        if (self->dialledAtOnce_ != nullptr) {
            *self->dialledAtOnce_ = error;
            return;
        }
        std::unique_lock guard(self->lock_);
        self->onDialled(error);
        self->handOver(guard, Caller::completion);
    });
    dialledAtOnce_ = nullptr;
    if (atOnce) {
        onDialled(*atOnce);
        return;
    }
    // TCP has to wait: it gets the shorter of its own limit and the whole connect time-out,
    // armed only now, since re-arming a deadline wakes another pool thread for the wait it
    // replaces.
    armDeadline(std::min(connectDeadline_,
                         asio::steady_timer::clock_type::now() + TlsParameters::tcpConnectionTimeout),
                "connect timed out");
}

void TlsStream::onDialled(const std::error_code& error) {
    if (phase_ != Phase::connecting) {
        std::error_code ignored; // ended meanwhile; the connector may have opened another socket
        socket_.close(ignored);
        return;
    }
    if (error) {
        fail(NetError::fromSystem(error));
        return;
    }
    if (deadline_.expiry() != connectDeadline_) {
        armDeadline(connectDeadline_, "handshake timed out");
    } else {
        deadlineWhat_ = "handshake timed out";
    }
    moveTo(Phase::handshaking);
    onConnected();
    continueHandshake();
}

void TlsStream::onConnected() {
    TlsParameters::applyTcpOptions(socket_.native_handle());
    std::error_code ignored;
    std::lock_guard guard(pathLock_);
    localEndpoint_ = socket_.local_endpoint(ignored);
    remoteEndpoint_ = socket_.remote_endpoint(ignored);
}

void TlsStream::continueHandshake() {
    if (phase_ != Phase::handshaking) {
        return;
    }
    const TlsEngine::Status status = engine_.handshake();
    if (status != TlsEngine::Status::ok && status != TlsEngine::Status::wantsInput) {
        fail(engine_.error());
        return;
    }
    maybeWrite();
    if (phase_ != Phase::handshaking) {
        return;
    }
    if (status == TlsEngine::Status::ok) {
        becomeReady();
        return;
    }
    needsCiphertext_ = true;
    maybeRead();
}

void TlsStream::becomeReady() {
    // The connect deadline is left to expire unheeded: cancelling it would wake another pool
    // thread for the cancelled wait, right on the way to ready.
    moveTo(Phase::open);
    endHandshake(std::nullopt);
    report(State::ready);
    needsCiphertext_ = false; // the last flight may have carried application data
    processInput();
    maybeWrite();
}

void TlsStream::maybeRead() {
    if (readInFlight_ || peerEnd_ || (writeInFlight_ && engine_.outputSize() > maxUnsentReplies)) {
        return;
    }
    // Undecrypted ciphertext waits for the reader to make room; closing only drains the socket.
    const bool wanted =
        phase_ == Phase::handshaking || isClosing() || (phase_ == Phase::open && needsCiphertext_);
    if (!wanted) {
        return;
    }
    const std::span<std::uint8_t> space =
        engine_.inboundSpace(phase_ == Phase::handshaking ? handshakeReadChunk : readChunk);
    readInFlight_ = true;
    socket_.async_read_some(
        asio::buffer(space.data(), space.size()),
        onStrand(home_, [self = shared_from_this()](const std::error_code& error, std::size_t size) {
            self->onRead(error, size);
        }));
}

void TlsStream::onRead(const std::error_code& error, std::size_t size) {
    std::unique_lock guard(lock_);
    readInFlight_ = false;
    if (isClosing()) {
        // What the peer sends now is dropped; its end of stream completes our close.
        if (error) {
            peerEnd_ = PeerEnd{};
            continueClose();
        } else {
            maybeRead();
        }
    } else if (phase_ == Phase::handshaking || phase_ == Phase::open) {
        if (error == asio::error::eof) {
            engine_.commitEnd();
        } else if (!error) {
            engine_.commitInbound(size);
            sendsSinceRead_ = 0;
        }
        if (error && error != asio::error::eof) {
            fail(NetError::fromSystem(error));
        } else {
            needsCiphertext_ = false;
            phase_ == Phase::handshaking ? continueHandshake() : processInput();
        }
    }
    handOver(guard, Caller::completion);
}

void TlsStream::processInput() {
    do {
        decrypt();
    } while (serveReceives());
    maybeRead();
    maybeWrite(); // reading may have produced an alert to send
}

void TlsStream::decrypt() {
    if (needsCiphertext_ || peerEnd_ || phase_ != Phase::open) {
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
        needsCiphertext_ = true;
        break;
    case TlsEngine::Status::closed:
        peerEnd_ = PeerEnd{};
        break;
    case TlsEngine::Status::failed: {
        NetError error = engine_.error();
        if (error.kind == NetError::Kind::closed) {
            peerEnd_ = PeerEnd{std::move(error)}; // the stream ended without close_notify
        } else {
            fail(std::move(error));
        }
        break;
    }
    }
}

bool TlsStream::serveReceives() {
    if (!queue_) {
        return false; // nowhere to deliver yet
    }
    bool served = false;
    while (!receives_.empty()) {
        Receive& receive = receives_.front();
        const std::size_t available = inboxEnd_ - inboxBegin_;
        const bool ended = peerEnd_ || isClosing() || isOver();
        if (available > 0 && (available >= receive.minimum || ended)) {
            const std::size_t count = std::min(available, receive.maximum);
            Bytes data(inbox_.get() + inboxBegin_, inbox_.get() + inboxBegin_ + count);
            inboxBegin_ += count;
            const bool complete = peerEnd_ && !isOver() && inboxBegin_ == inboxEnd_;
            handReceive(std::move(receive.completion), std::move(data), complete,
                        complete ? peerEnd_->error : std::nullopt);
        } else if (ended) {
            if (isClosing() || isOver()) {
                handReceive(std::move(receive.completion), {}, false,
                            isClosing() ? cancelledError : endError());
            } else {
                handReceive(std::move(receive.completion), {}, true, peerEnd_->error);
            }
        } else {
            break;
        }
        receives_.pop_front();
        served = true;
    }
    return served;
}

// Writes at once from whichever thread got here, as long as the socket takes the bytes;
// only what it does not take waits for an asynchronous write.
void TlsStream::maybeWrite() {
    while (!writeInFlight_ && hasSocket() && !isOver()) {
        if ((phase_ == Phase::open || phase_ == Phase::flushing) && queue_) {
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
            wrote(); // only empty sends were taken, if any
            return;
        }
        std::error_code error;
        const std::size_t written = socket_.write_some(asio::buffer(writing_), error);
        if (error && !wouldBlock(error)) {
            fail(NetError::fromSystem(error));
            return;
        }
        if (written < writing_.size()) {
            writeInFlight_ = true;
            asio::async_write(
                socket_, asio::buffer(writing_.data() + written, writing_.size() - written),
                onStrand(home_, [self = shared_from_this()](const std::error_code& writeError, std::size_t) {
                    self->onWrite(writeError);
                }));
            return;
        }
        wrote();
    }
}

// A send that follows another with nothing heard in between is taken for part of a burst: it
// waits until the owner's work under way is done, so that the burst leaves in few writes. Any
// other send, the answer to a request above all, leaves at once.
bool TlsStream::cork() {
    if (sendsSinceRead_ == 0 || !homeIsOwners_ || phase_ != Phase::open || writeInFlight_ ||
        !home_.running_in_this_thread()) {
        return false; // a write in flight holds the sends anyway
    }
    corked_ = true;
    asio::defer(home_, [self = shared_from_this()] {
        std::unique_lock guard(self->lock_);
        self->corked_ = false;
        self->maybeWrite();
        self->handOver(guard, Caller::completion);
    });
    return true;
}

void TlsStream::onWrite(const std::error_code& error) {
    std::unique_lock guard(lock_);
    writeInFlight_ = false;
    if (phase_ == Phase::failing) {
        if (!error) {
            sendPendingAlert();
        }
        finish(State::failed, endError());
    } else if (!isOver()) {
        if (error) {
            fail(NetError::fromSystem(error));
        } else {
            wrote();
            if (isClosing()) {
                continueClose();
            } else {
                maybeWrite();
                maybeRead(); // what waited behind the write may have held the reading
            }
        }
    }
    handOver(guard, Caller::completion);
}

void TlsStream::wrote() {
    backlog_ -= writingPlaintext_;
    writingPlaintext_ = 0;
    if (!writingCompletions_.empty()) {
        handSends(std::exchange(writingCompletions_, {}), std::nullopt);
    }
}

void TlsStream::continueClose() {
    if (phase_ == Phase::flushing) {
        maybeWrite();
        if (writeInFlight_ || phase_ != Phase::flushing) {
            return;
        }
        moveTo(Phase::notifying);
        engine_.shutdown();
    }
    if (phase_ == Phase::notifying) {
        maybeWrite();
        if (writeInFlight_ || phase_ != Phase::notifying) {
            return;
        }
        moveTo(Phase::draining);
        std::error_code ignored;
        socket_.shutdown(asio::socket_base::shutdown_send, ignored);
    }
    // Closing with unread data would reset the connection and could cost the peer our
    // last bytes, so the socket closes once the peer has closed its side too.
    if (phase_ == Phase::draining) {
        if (peerEnd_) {
            finish(State::cancelled, cancelledError);
        } else {
            maybeRead();
        }
    }
}

void TlsStream::fail(NetError error) {
    if (isOver()) {
        return;
    }
    if (isClosing()) {
        finish(State::cancelled, cancelledError);
        return;
    }
    if (writeInFlight_ && engine_.hasOutput()) {
        // The alert telling the peer why has to follow the bytes being written.
        endError_ = std::move(error);
        moveTo(Phase::failing);
        armDeadline(asio::steady_timer::clock_type::now() + TlsConnection::gracefulCloseLimit, "");
        return;
    }
    sendPendingAlert();
    finish(State::failed, error);
}

void TlsStream::sendPendingAlert() {
    if (!hasSocket()) {
        return;
    }
    // One attempt, never waiting: the alert only helps the peer name the failure.
    Bytes alert;
    engine_.takeOutput(alert);
    if (!alert.empty()) {
        std::error_code ignored;
        socket_.write_some(asio::buffer(alert), ignored);
    }
}

// Tells the listener's slot how the handshake ended, once, and lets go of it.
void TlsStream::endHandshake(const std::optional<NetError>& failure) {
    engine_.endHandshake();
    if (const auto slot = std::exchange(handshakeSlot_, nullptr)) {
        slot->handshakeEnded(failure, engine_.offeredIdentity());
    }
}

void TlsStream::finish(State state, const NetError& error) {
    if (isEnd(phase_)) {
        return;
    }
    const bool dialling = phase_ == Phase::connecting;
    moveTo(state == State::failed ? Phase::failed : Phase::cancelled);
    deadline_.cancel();
    resolver_.cancel();
    closeSocket(dialling);
    endHandshake(state == State::failed ? std::optional(error) : std::nullopt);
    endError_ = error;

    if (!queue_ || released_) {
        publicState_ = state; // start reports it; held completions wait for that, or go with the stream
        return;
    }
    serveReceives();
    handSends(takeSendCompletions(), error);
    report(state, state == State::failed ? std::optional(error) : std::nullopt);
}

void TlsStream::closeSocket(bool dialling) {
    if (dialling) {
        asio::post(socket_.get_executor(), [self = shared_from_this()] {
            std::lock_guard guard(self->lock_);
            std::error_code ignored;
            self->socket_.close(ignored);
        });
        return;
    }
    std::error_code ignored;
    socket_.close(ignored);
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

NetError TlsStream::endError() const {
    return endError_.value_or(cancelledError);
}

void TlsStream::report(State state, std::optional<NetError> error) {
    publicState_ = state;
    announce(state, std::move(error));
}

void TlsStream::announce(State state, std::optional<NetError> error) {
    hand([self = shared_from_this(), state, error = std::move(error)] {
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

void TlsStream::hand(std::function<void()> work) {
    if (queue_ && !released_) {
        handed_.push_back(std::move(work));
    }
}

void TlsStream::handReceive(TlsConnection::ReceiveCompletion completion, Bytes data, bool isComplete,
                            std::optional<NetError> error) {
    if (!completion) {
        return;
    }
    hand([completion = std::move(completion), data = std::move(data), isComplete,
          error = std::move(error)]() mutable { completion(std::move(data), isComplete, error); });
}

void TlsStream::handSends(std::vector<TlsConnection::SendCompletion> completions,
                          std::optional<NetError> error) {
    std::erase_if(completions, [](const auto& completion) { return !completion; });
    if (completions.empty()) {
        return;
    }
    hand([completions = std::move(completions), error = std::move(error)] {
        for (const auto& completion : completions) {
            completion(error);
        }
    });
}

// A completion running on the owner's strand gives the owner its results in place. Anything
// else goes through the owner's queue, deferred: it carries on what this thread is finishing.
void TlsStream::handOver(std::unique_lock<std::mutex>& guard, Caller caller) {
    if (handed_.empty() || handing_) {
        return; // a hand-over under way takes these too
    }
    handing_ = true;
    if (caller == Caller::completion && homeIsOwners_ && home_.running_in_this_thread()) {
        guard.unlock();
        deliverHanded();
        return;
    }
    const std::shared_ptr<Queue> queue = queue_;
    guard.unlock();
    queue->defer([self = shared_from_this()] { self->deliverHanded(); });
}

void TlsStream::deliverHanded() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard guard(lock_);
            if (handed_.empty()) {
                handing_ = false;
                return;
            }
            work = std::move(handed_.front());
            handed_.pop_front();
        }
        // The owner's code: what it throws must not stop the hand-over.
        try {
            work();
        } catch (const std::exception& error) {
            tlsStreamLog.error("a connection's owner threw: %s", error.what());
        } catch (...) {
            tlsStreamLog.error("a connection's owner threw a non-standard exception");
        }
    }
}

} // namespace velm
