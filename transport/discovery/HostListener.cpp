#include "transport/discovery/HostListener.h"

#include "platform/discovery/Discovery.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/net/TlsConnection.h"
#include "platform/net/TlsParameters.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/VelmService.h"
#include "transport/discovery/DiscoveryLog.h"

#include <utility>

namespace velm {

namespace {

std::string describe(TlsListener::State state, const std::optional<NetError>& error) {
    switch (state) {
    case TlsListener::State::setup:
        return "setup";
    case TlsListener::State::ready:
        return "ready";
    case TlsListener::State::failed:
        return "failed (" + (error ? error->description : std::string("unknown error")) + ")";
    case TlsListener::State::cancelled:
        return "cancelled";
    }
    return "unknown";
}

TlsParameters parametersFor(const std::vector<PreSharedKey>& keys, std::shared_ptr<TlsKeyLender> lender) {
    std::vector<TlsKey> tlsKeys;
    tlsKeys.reserve(keys.size());
    for (const auto& key : keys) {
        tlsKeys.push_back({key.identity(), key.key()});
    }
    return TlsParameters(std::move(tlsKeys), std::move(lender));
}

} // namespace

std::shared_ptr<HostListener> HostListener::make(std::shared_ptr<Queue> queue,
                                                 std::shared_ptr<Discovery> discovery, Options options) {
    return std::shared_ptr<HostListener>(
        new HostListener(std::move(queue), std::move(discovery), std::move(options)));
}

HostListener::HostListener(std::shared_ptr<Queue> queue, std::shared_ptr<Discovery> discovery,
                           Options options)
    : queue_(std::move(queue)), discovery_(std::move(discovery)), options_(std::move(options)) {}

// Dropping the platform listener closes its port; dropping the publisher withdraws the service.
HostListener::~HostListener() {
    restart_.cancel();
}

void HostListener::setOnState(StateHandler handler) {
    onState_.set(std::move(handler));
}

void HostListener::setOnConnection(ConnectionHandler handler) {
    onConnection_.set(std::move(handler));
}

template <class Step> void HostListener::onQueue(Step step) {
    queue_->post(whileAlive(weak_from_this(), std::move(step)));
}

void HostListener::setOnHandshakeFailed(HandshakeFailedHandler handler) {
    onHandshakeFailed_.set(std::move(handler));
}

void HostListener::setKeyLender(std::shared_ptr<TlsKeyLender> lender) {
    onQueue([lender = std::move(lender)](HostListener& self) mutable { self.lender_ = std::move(lender); });
}

void HostListener::setOnAdvertisement(AdvertisementHandler handler) {
    onAdvertisement_.set(std::move(handler));
}

void HostListener::setPreferredPort(std::optional<std::uint16_t> port) {
    onQueue([port](HostListener& self) {
        if (!self.chosenPort_) {
            self.chosenPort_ = port;
        }
    });
}

void HostListener::start(std::optional<std::string> name, std::string hostID, std::vector<PreSharedKey> keys,
                         std::optional<std::uint16_t> port) {
    onQueue([start = Start{std::move(name), std::move(hostID), port, 0},
             keys = std::move(keys)](HostListener& self) mutable {
        self.keys_ = std::move(keys);
        self.begin(std::move(start));
    });
}

void HostListener::start(std::optional<std::string> name, std::string hostID, std::string_view secret,
                         std::optional<std::uint16_t> port) {
    start(std::move(name), std::move(hostID), std::vector<PreSharedKey>{PreSharedKey::fromSecret(secret)},
          port);
}

void HostListener::setKeys(std::vector<PreSharedKey> keys) {
    onQueue([keys = std::move(keys)](HostListener& self) mutable {
        self.keys_ = std::move(keys);
        if (self.listener_) {
            self.listener_->setParameters(parametersFor(self.keys_, self.lender_));
        }
    });
}

void HostListener::stop() {
    onQueue([](HostListener& self) {
        // A retry that was waiting would otherwise bring the listener back after it was switched off.
        self.restart_.cancel();
        if (!self.listener_) {
            return;
        }
        self.end();
        self.report(State::stopped());
    });
}

void HostListener::end() {
    if (listener_) {
        listener_->cancel();
        listener_.reset();
    }
    withdraw();
}

void HostListener::begin(Start start) {
    end();
    restart_.cancel();
    const auto generation = ++generation_;

    std::optional<std::uint16_t> port;
    if (start.explicitPort) {
        port = start.explicitPort;
    } else if (start.attempt < keptPortAttempts) {
        port = chosenPort_;
    }
    listener_ = TlsListener::make(parametersFor(keys_, lender_), port,
                                  {.handshakeTimeout = options_.handshakeTimeout});

    auto weak = weak_from_this();
    listener_->setOnState(
        [weak, generation, start](TlsListener::State state, const std::optional<NetError>& error) {
            discoveryLog.info("listener state: %s", describe(state, error).c_str());
            if (auto self = weak.lock()) {
                self->handleState(generation, start, state, error);
            }
        });
    listener_->setOnHandshakeFailed([weak, generation](std::optional<std::string> identity) {
        if (auto self = weak.lock(); self && self->generation_ == generation) {
            self->reportHandshakeFailure(std::move(identity));
        }
    });
    listener_->setOnConnection([weak](std::shared_ptr<TlsConnection> connection) {
        if (auto self = weak.lock()) {
            self->accept(std::move(connection));
        } else {
            connection->forceCancel();
        }
    });
    report(State::starting());
    listener_->start(queue_);
}

void HostListener::handleState(std::uint64_t generation, const Start& start, TlsListener::State state,
                               const std::optional<NetError>& error) {
    if (generation != generation_) {
        return;
    }
    switch (state) {
    case TlsListener::State::ready:
        becameReady(start);
        break;
    case TlsListener::State::failed:
        failed(generation, start, error.value_or(NetError{NetError::Kind::other, "listener failed"}));
        break;
    case TlsListener::State::setup:
    case TlsListener::State::cancelled:
        // Only end() cancels, and stop() reports for itself.
        break;
    }
}

void HostListener::becameReady(const Start& start) {
    const auto port = listener_ ? listener_->port() : std::uint16_t{0};
    chosenPort_ = port == 0 ? std::nullopt : std::optional(port);
    report(State::advertising(port));
    if (start.name && port != 0) {
        advertise(start, port);
    }
}

void HostListener::failed(std::uint64_t generation, const Start& start, const NetError& error) {
    withdraw();
    const bool mayRetry =
        error.kind == NetError::Kind::addressInUse && !start.explicitPort && start.attempt < keptPortAttempts;
    if (!mayRetry) {
        report(State::failed(error.description));
        return;
    }
    restart_ = queue_->postAfter(options_.retryDelay,
                                 [weak = weak_from_this(), generation, start = start]() mutable {
                                     if (auto self = weak.lock(); self && self->generation_ == generation) {
                                         ++start.attempt;
                                         self->begin(std::move(start));
                                     }
                                 });
}

void HostListener::accept(std::shared_ptr<TlsConnection> connection) {
    const ConnectionHandler handler = onConnection_.get();
    if (!handler) {
        connection->forceCancel();
        return;
    }
    handler(ControlChannel::accepted(std::move(connection)));
}

void HostListener::reportHandshakeFailure(std::optional<std::string> identity) {
    onHandshakeFailed_(std::move(identity));
}

void HostListener::advertise(const Start& start, std::uint16_t port) {
    TxtRecord txt;
    txt.add(std::string(hostIDKey), start.hostID);
    txt.add(std::string(VelmService::modelKey), options_.model.identifier);
    if (options_.model.name) {
        txt.add(std::string(VelmService::modelNameKey), *options_.model.name);
    }
    publisher_ = discovery_->makePublisher(queue_);
    publisher_->setOnState(
        whileAlive(shared_from_this(), [](HostListener& self, const ServicePublisher::State& state) {
            switch (state.kind()) {
            case ServicePublisher::State::Kind::registered:
                self.publishedName_ = state.name();
                discoveryLog.info("Bonjour registered: %s", state.name().c_str());
                break;
            case ServicePublisher::State::Kind::unavailable:
                discoveryLog.info("Bonjour unavailable: %s", state.message().c_str());
                break;
            case ServicePublisher::State::Kind::failed:
                discoveryLog.error("Bonjour failed: %s", state.message().c_str());
                break;
            case ServicePublisher::State::Kind::registering:
                break;
            }
            self.onAdvertisement_(state);
        }));
    publisher_->publish({*start.name, std::string(VelmService::serviceType), port, std::move(txt)});
}

void HostListener::withdraw() {
    if (!publisher_) {
        return;
    }
    publisher_.reset();
    if (publishedName_) {
        discoveryLog.info("Bonjour removed: %s", publishedName_->c_str());
        publishedName_.reset();
    }
}

void HostListener::report(const State& state) {
    onState_(state);
}

} // namespace velm
