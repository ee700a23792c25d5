#include "platform/net/TlsListener.h"

#include "platform/dispatch/IoPool.h"
#include "platform/dispatch/Queue.h"
#include "platform/log/Log.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "platform/net/TlsStream.h"

#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <mutex>

namespace velm {

namespace {

const Log netLog("net");

// Pause before accepting again after the system refused an accept (out of descriptors).
constexpr std::chrono::milliseconds acceptRetryDelay{100};

// Held by an accepted connection until its handshake ends; counts the listener's
// connections that are still on their way.
struct PendingHandshake {
    explicit PendingHandshake(std::shared_ptr<std::atomic<std::size_t>> counter) : count(std::move(counter)) {
        ++*count;
    }
    ~PendingHandshake() { --*count; }
    PendingHandshake(const PendingHandshake&) = delete;
    PendingHandshake& operator=(const PendingHandshake&) = delete;

    std::shared_ptr<std::atomic<std::size_t>> count;
};

} // namespace

class TlsListener::Core : public std::enable_shared_from_this<Core> {
public:
    Core(std::shared_ptr<const TlsContext> context, std::optional<std::uint16_t> port,
         Duration handshakeTimeout)
        : strand_(asio::make_strand(IoPool::shared().context())), acceptor_(strand_), retryTimer_(strand_),
          context_(std::move(context)), requestedPort_(port), handshakeTimeout_(handshakeTimeout) {}

    void setStateHandler(StateHandler handler) {
        std::lock_guard guard(handlerLock_);
        onState_ = std::move(handler);
    }

    void setConnectionHandler(ConnectionHandler handler) {
        std::lock_guard guard(handlerLock_);
        onConnection_ = std::move(handler);
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

    void release() {
        setStateHandler(nullptr);
        setConnectionHandler(nullptr);
        asio::post(strand_, [self = shared_from_this()] {
            self->released_ = true;
            self->finish(State::cancelled, std::nullopt);
        });
    }

    std::uint16_t port() const { return port_.load(); }

private:
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
            finish(State::failed, NetError{NetError::Kind::tls, "tls setup failed"});
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
            netLog.error("accept failed: %s", error.message().c_str());
            retryTimer_.expires_after(acceptRetryDelay);
            retryTimer_.async_wait([self = shared_from_this()](const std::error_code& waitError) {
                if (!waitError) {
                    self->accept();
                }
            });
            return;
        }
        if (pending_->load() >= maxPendingHandshakes) {
            netLog.info("too many connections in handshake, closing one");
            std::error_code ignored;
            socket.close(ignored);
            accept();
            return;
        }
        auto slot = std::make_shared<PendingHandshake>(pending_);
        auto stream = TlsStream::accepted(std::move(socket), context_, handshakeTimeout_, std::move(slot));
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
    asio::steady_timer retryTimer_;
    std::shared_ptr<const TlsContext> context_;
    std::optional<std::uint16_t> requestedPort_;
    Duration handshakeTimeout_;
    std::shared_ptr<std::atomic<std::size_t>> pending_ = std::make_shared<std::atomic<std::size_t>>(0);
    std::atomic<std::uint16_t> port_{0};

    mutable std::mutex handlerLock_;
    StateHandler onState_;
    ConnectionHandler onConnection_;

    // Touched on the strand only.
    std::shared_ptr<Queue> queue_;
    State state_ = State::setup;
    bool released_ = false;
};

std::shared_ptr<TlsListener> TlsListener::make(const TlsParameters& parameters,
                                               std::optional<std::uint16_t> port, Duration handshakeTimeout) {
    return std::shared_ptr<TlsListener>(
        new TlsListener(std::make_shared<Core>(parameters.context(), port, handshakeTimeout)));
}

TlsListener::TlsListener(std::shared_ptr<Core> core) : core_(std::move(core)) {}

TlsListener::~TlsListener() {
    core_->release();
}

void TlsListener::setStateHandler(StateHandler handler) {
    core_->setStateHandler(std::move(handler));
}

void TlsListener::setNewConnectionHandler(ConnectionHandler handler) {
    core_->setConnectionHandler(std::move(handler));
}

void TlsListener::start(std::shared_ptr<Queue> queue) {
    core_->start(std::move(queue));
}

void TlsListener::cancel() {
    core_->cancel();
}

std::uint16_t TlsListener::port() const {
    return core_->port();
}

} // namespace velm
