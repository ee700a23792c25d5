#include "platform/net/TlsListener.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/log/Log.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "platform/net/TlsStream.h"

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace velm {

namespace {

const Log tlsListenerLog("net");

// Pause before accepting again after the system refused an accept (out of descriptors).
constexpr std::chrono::milliseconds acceptRetryDelay{100};

const NetError droppedForNewcomer{NetError::Kind::timedOut, "handshake dropped to make room"};
const NetError noHello{NetError::Kind::timedOut, "no hello in time"};
const NetError noTlsSetup{NetError::Kind::tls, "tls setup failed"};

asio::ip::address unmappedSource(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

} // namespace

class TlsListener::Core : public std::enable_shared_from_this<Core> {
public:
    Core(std::shared_ptr<const TlsContext> context, std::optional<std::uint16_t> port, Limits limits)
        : strand_(asio::make_strand(IoPool::shared().context())), acceptor_(strand_), retryTimer_(strand_),
          requestedPort_(port), limits_(limits), context_(std::move(context)) {}

    void setOnState(StateHandler handler) {
        std::lock_guard guard(handlerLock_);
        onState_ = std::move(handler);
    }

    void setConnectionHandler(ConnectionHandler handler) {
        std::lock_guard guard(handlerLock_);
        onConnection_ = std::move(handler);
    }

    void setHandshakeFailedHandler(HandshakeFailedHandler handler) {
        std::lock_guard guard(handlerLock_);
        onHandshakeFailed_ = std::move(handler);
    }

    void start(std::shared_ptr<Queue> queue) {
        asio::post(strand_, [self = shared_from_this(), queue = std::move(queue)] {
            if (self->queue_ || !queue || self->state_ != State::setup) {
                return;
            }
            self->queue_ = queue;
            self->open();
        });
    }

    void cancel() {
        asio::post(strand_, [self = shared_from_this()] { self->finish(State::cancelled, std::nullopt); });
    }

    // A listener that cannot make its new context fails rather than go on admitting the old keys.
    void setContext(std::shared_ptr<const TlsContext> context) {
        asio::post(strand_, [self = shared_from_this(), context = std::move(context)]() mutable {
            if (self->isFinished()) {
                return;
            }
            self->context_ = std::move(context);
            if (!self->context_ && self->queue_) {
                self->finish(State::failed, noTlsSetup);
            }
        });
    }

    void release() {
        setOnState(nullptr);
        setConnectionHandler(nullptr);
        setHandshakeFailedHandler(nullptr);
        asio::post(strand_, [self = shared_from_this()] {
            self->released_ = true;
            self->finish(State::cancelled, std::nullopt);
        });
    }

    std::uint16_t port() const { return port_.load(); }

private:
    class Slot;

    // A connection on its way through the handshake, oldest first in unfinished_.
    struct Unfinished {
        std::uint64_t serial;
        asio::ip::address source;
        std::weak_ptr<TlsStream> stream;
        std::shared_ptr<asio::steady_timer> helloTimer;
        // Set by the slot as it goes, before the listener hears of it on its strand.
        std::shared_ptr<std::atomic<bool>> ended;
    };

    bool isFinished() const { return state_ == State::failed || state_ == State::cancelled; }

    void open() {
        const std::uint16_t port = requestedPort_.value_or(0);
        std::error_code error;
        // One dual-stack socket serves IPv4 and IPv6; without IPv6, IPv4 alone.
        acceptor_.open(asio::ip::tcp::v6(), error);
        if (!error) {
            acceptor_.set_option(asio::ip::v6_only(false), error);
        }
        asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v6(), port);
        if (error) {
            acceptor_.close(error);
            error.clear();
            endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port);
            acceptor_.open(asio::ip::tcp::v4(), error);
        }
        if (!error) {
            acceptor_.set_option(asio::socket_base::reuse_address(true), error);
        }
        if (!error) {
            acceptor_.bind(endpoint, error);
        }
        if (!error) {
            acceptor_.listen(asio::socket_base::max_listen_connections, error);
        }
        if (!error && !context_) {
            finish(State::failed, noTlsSetup);
            return;
        }
        if (error) {
            finish(State::failed, NetError::fromSystem(error));
            return;
        }
        port_ = acceptor_.local_endpoint(error).port();
        setState(State::ready, std::nullopt);
        accept();
    }

    void accept() {
        if (isFinished()) {
            return;
        }
        auto connectionStrand = asio::make_strand(IoPool::shared().context());
        acceptor_.async_accept(connectionStrand, [self = shared_from_this()](const std::error_code& error,
                                                                             TlsStream::Socket socket) {
            self->onAccept(error, std::move(socket));
        });
    }

    void onAccept(const std::error_code& error, TlsStream::Socket socket) {
        if (isFinished()) {
            return;
        }
        if (error) {
            // The connection stays waiting and fails each retry alike: a line per retry would fill the log
            // for as long as descriptors are short.
            if (failedAccepts_++ == 0) {
                tlsListenerLog.error("accept failed: %s", error.message().c_str());
            }
            retryTimer_.expires_after(acceptRetryDelay);
            retryTimer_.async_wait([self = shared_from_this()](const std::error_code& waitError) {
                if (!waitError) {
                    self->accept();
                }
            });
            return;
        }
        if (failedAccepts_ > 0) {
            tlsListenerLog.info("accepting again after %llu failed accepts",
                                static_cast<unsigned long long>(std::exchange(failedAccepts_, 0)));
        }
        std::error_code ignored;
        const asio::ip::address source = unmappedSource(socket.remote_endpoint(ignored).address());
        if (!makeRoom(source)) {
            tlsListenerLog.info("%zu channels open, refusing another", limits_.maxOpenChannels);
            socket.close(ignored);
            accept();
            return;
        }
        const std::uint64_t serial = ++serial_;
        auto ended = std::make_shared<std::atomic<bool>>(false);
        auto stream = TlsStream::accepted(std::move(socket), context_, limits_.handshakeTimeout,
                                          makeSlot(serial, ended));
        watch(serial, source, stream, std::move(ended));
        open_.push_back(stream);
        std::shared_ptr<TlsConnection> connection(new TlsConnection(std::move(stream)));
        deliver([self = shared_from_this(), connection = std::move(connection)] {
            ConnectionHandler handler;
            {
                std::lock_guard guard(self->handlerLock_);
                handler = self->onConnection_;
            }
            if (handler) {
                handler(connection);
            }
        });
        accept();
    }

    // Whether a connection from `source` may come in. Unfinished handshakes are cheap to start and cost
    // the peer nothing to hold, so for them a newcomer is never the one turned away: one of its own
    // address's goes when that address holds its share, else one of all when every place is taken or
    // the open channels are at their cap. Only channels past their handshake keep a newcomer out.
    bool makeRoom(const asio::ip::address& source) {
        std::erase_if(unfinished_, [](const Unfinished& entry) {
            if (entry.ended->load()) {
                entry.helloTimer->cancel();
                return true;
            }
            return false;
        });
        const auto fromSource = [&source](const Unfinished& entry) { return entry.source == source; };
        const auto any = [](const Unfinished&) { return true; };
        if (static_cast<std::size_t>(std::count_if(unfinished_.begin(), unfinished_.end(), fromSource)) >=
            limits_.maxPendingPerSource) {
            freePlace(fromSource);
        }
        if (unfinished_.size() >= maxPendingHandshakes) {
            freePlace(any);
        }
        pruneOpen();
        if (open_.size() >= limits_.maxOpenChannels && freePlace(any)) {
            pruneOpen();
        }
        return open_.size() < limits_.maxOpenChannels;
    }

    void pruneOpen() {
        std::erase_if(open_, [](const std::weak_ptr<TlsStream>& weak) {
            const auto stream = weak.lock();
            return !stream || stream->state() == TlsStream::State::failed ||
                   stream->state() == TlsStream::State::cancelled;
        });
    }

    // Frees one place among the unfinished handshakes that `among` picks. A socket that has not sent
    // its whole hello yet costs its peer nothing, while a client whose hello came is on its way: the
    // oldest of the former goes, and the oldest of the latter only when every place holds one.
    // False when `among` picks none.
    template <typename Among> bool freePlace(Among among) {
        for (auto entry = unfinished_.begin(); entry != unfinished_.end(); ++entry) {
            const auto stream = entry->stream.lock();
            if (among(*entry) && (!stream || stream->abandonHandshakeBeforeHello(droppedForNewcomer))) {
                entry->helloTimer->cancel();
                unfinished_.erase(entry);
                return true;
            }
        }
        const auto oldest = std::find_if(unfinished_.begin(), unfinished_.end(), among);
        if (oldest == unfinished_.end()) {
            return false;
        }
        drop(oldest);
        return true;
    }

    std::shared_ptr<HandshakeSlot> makeSlot(std::uint64_t serial, std::shared_ptr<std::atomic<bool>> ended);

    void drop(std::deque<Unfinished>::iterator entry) {
        if (const auto stream = entry->stream.lock()) {
            stream->abandonHandshake(droppedForNewcomer);
        }
        entry->helloTimer->cancel();
        unfinished_.erase(entry);
    }

    void watch(std::uint64_t serial, const asio::ip::address& source,
               const std::shared_ptr<TlsStream>& stream, std::shared_ptr<std::atomic<bool>> ended) {
        auto timer = std::make_shared<asio::steady_timer>(strand_, limits_.helloTimeout);
        timer->async_wait([weak = std::weak_ptr<TlsStream>(stream)](const std::error_code& error) {
            if (const auto late = weak.lock(); late && !error) {
                late->abandonHandshakeBeforeHello(noHello);
            }
        });
        unfinished_.push_back({serial, source, stream, std::move(timer), std::move(ended)});
    }

    // On the strand, once the connection let go of its slot.
    void forget(std::uint64_t serial) {
        const auto entry =
            std::find_if(unfinished_.begin(), unfinished_.end(),
                         [serial](const Unfinished& unfinished) { return unfinished.serial == serial; });
        if (entry != unfinished_.end()) {
            entry->helloTimer->cancel();
            unfinished_.erase(entry);
        }
    }

    void reportHandshakeFailure(std::optional<std::string> identity) {
        asio::post(strand_, [self = shared_from_this(), identity = std::move(identity)]() mutable {
            self->deliver([self, identity = std::move(identity)] {
                HandshakeFailedHandler handler;
                {
                    std::lock_guard guard(self->handlerLock_);
                    handler = self->onHandshakeFailed_;
                }
                if (handler) {
                    handler(identity);
                }
            });
        });
    }

    void finish(State state, std::optional<NetError> error) {
        if (isFinished()) {
            return;
        }
        std::error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        if (queue_) {
            setState(state, std::move(error));
        } else {
            state_ = state;
        }
        // Nothing more is told: the last report, which holds this listener, must not keep the owner's queue
        // alive through it when the owner never runs that queue again.
        queue_.reset();
    }

    void setState(State state, std::optional<NetError> error) {
        state_ = state;
        deliver([self = shared_from_this(), state, error = std::move(error)] {
            StateHandler handler;
            {
                std::lock_guard guard(self->handlerLock_);
                handler = self->onState_;
            }
            if (handler) {
                handler(state, error);
            }
        });
    }

    void deliver(std::function<void()> work) {
        if (queue_ && !released_) {
            queue_->post(std::move(work));
        }
    }

    TlsStream::Strand strand_;
    asio::ip::tcp::acceptor acceptor_;
    std::uint64_t failedAccepts_ = 0; // since the last accept that worked
    asio::steady_timer retryTimer_;
    std::optional<std::uint16_t> requestedPort_;
    const Limits limits_;
    std::atomic<std::uint16_t> port_{0};

    mutable std::mutex handlerLock_;
    StateHandler onState_;
    ConnectionHandler onConnection_;
    HandshakeFailedHandler onHandshakeFailed_;

    // Touched on the strand only.
    std::shared_ptr<const TlsContext> context_;
    std::shared_ptr<Queue> queue_;
    State state_ = State::setup;
    bool released_ = false;
    std::uint64_t serial_ = 0;
    std::deque<Unfinished> unfinished_;
    // Accepted connections that may still be open; pruned at each accept.
    std::vector<std::weak_ptr<TlsStream>> open_;
};

// Held by an accepted connection while its handshake runs. It holds the listener weakly: a
// connection outlives the listener that accepted it.
class TlsListener::Core::Slot : public HandshakeSlot {
public:
    Slot(std::weak_ptr<Core> core, std::uint64_t serial, std::shared_ptr<std::atomic<bool>> ended)
        : core_(std::move(core)), serial_(serial), ended_(std::move(ended)) {}

    ~Slot() override {
        *ended_ = true;
        if (auto core = core_.lock()) {
            asio::post(core->strand_, [core, serial = serial_] { core->forget(serial); });
        }
    }

    void handshakeEnded(const std::optional<NetError>& failure,
                        const std::optional<std::string>& offeredIdentity) override {
        if (failure && failure->isTls()) {
            if (auto core = core_.lock()) {
                core->reportHandshakeFailure(offeredIdentity);
            }
        }
    }

private:
    std::weak_ptr<Core> core_;
    std::uint64_t serial_;
    std::shared_ptr<std::atomic<bool>> ended_;
};

std::shared_ptr<HandshakeSlot> TlsListener::Core::makeSlot(std::uint64_t serial,
                                                           std::shared_ptr<std::atomic<bool>> ended) {
    return std::make_shared<Slot>(weak_from_this(), serial, std::move(ended));
}

std::shared_ptr<TlsListener> TlsListener::make(const TlsParameters& parameters,
                                               std::optional<std::uint16_t> port, Limits limits) {
    return std::shared_ptr<TlsListener>(
        new TlsListener(std::make_shared<Core>(parameters.context(), port, limits)));
}

TlsListener::TlsListener(std::shared_ptr<Core> core) : core_(std::move(core)) {}

TlsListener::~TlsListener() {
    core_->release();
}

void TlsListener::setOnState(StateHandler handler) {
    core_->setOnState(std::move(handler));
}

void TlsListener::setOnConnection(ConnectionHandler handler) {
    core_->setConnectionHandler(std::move(handler));
}

void TlsListener::setOnHandshakeFailed(HandshakeFailedHandler handler) {
    core_->setHandshakeFailedHandler(std::move(handler));
}

void TlsListener::start(std::shared_ptr<Queue> queue) {
    core_->start(std::move(queue));
}

void TlsListener::cancel() {
    core_->cancel();
}

void TlsListener::setParameters(const TlsParameters& parameters) {
    core_->setContext(parameters.context());
}

std::uint16_t TlsListener::port() const {
    return core_->port();
}

} // namespace velm
