#include "transport/channel/ControlChannel.h"

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "platform/net/TlsParameters.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "transport/channel/VelmService.h"
#include "transport/keys/HelloProof.h"

#include <utility>

namespace velm {

namespace {

constexpr Log log("channel");

template <typename Decoded> std::optional<Decoded> decodeOrNothing(ByteView payload) {
    try {
        return Decoded::decoding(payload);
    } catch (const WireError&) {
        return std::nullopt;
    }
}

} // namespace

std::shared_ptr<ControlChannel> ControlChannel::accepted(std::shared_ptr<TlsConnection> connection) {
    return std::shared_ptr<ControlChannel>(new ControlChannel({Origin::Accepted{std::move(connection)}}, {}));
}

std::shared_ptr<ControlChannel> ControlChannel::outgoing(Endpoint endpoint, PreSharedKey key,
                                                         Options options) {
    return std::shared_ptr<ControlChannel>(
        new ControlChannel({Origin::Outgoing{std::move(endpoint), std::move(key)}}, std::move(options)));
}

std::shared_ptr<ControlChannel> ControlChannel::outgoing(Endpoint endpoint, std::string_view secret,
                                                         Options options) {
    return outgoing(std::move(endpoint), PreSharedKey::fromSecret(secret), std::move(options));
}

ControlChannel::ControlChannel(Origin origin, Options options)
    : origin_(std::move(origin)), options_(std::move(options)) {}

ControlChannel::~ControlChannel() {
    connectTimeout_.cancel();
    if (resolver_) {
        resolver_->cancel();
    }
}

void ControlChannel::setOnEvent(EventHandler handler) {
    onEvent_ = std::move(handler);
}

void ControlChannel::start(std::shared_ptr<Queue> queue) {
    if (!queue) {
        return;
    }
    const auto* accepted = std::get_if<Origin::Accepted>(&origin_.value);
    {
        std::lock_guard guard(lock);
        if (queue_ || cancelledBeforeStart_) {
            return;
        }
        queue_ = queue;
    }
    if (accepted == nullptr) {
        queue->post(whileAlive(shared_from_this(), &ControlChannel::begin));
        return;
    }
    // No time-out here: the handshake is bounded by the listener, the first message by the owner.
    installConnection(accepted->connection);
    accepted->connection->start(std::move(queue));
}

void ControlChannel::cancel() {
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard guard(lock);
        queue = queue_;
        if (!queue) {
            cancelledBeforeStart_ = true;
        }
    }
    if (queue) {
        queue->post([self = shared_from_this()] { self->close(CloseReason::cancelled); });
    } else if (const auto* accepted = std::get_if<Origin::Accepted>(&origin_.value)) {
        accepted->connection->cancel();
    }
}

std::shared_ptr<TlsConnection> ControlChannel::currentConnection() const {
    std::lock_guard guard(lock);
    return connection_;
}

void ControlChannel::installConnection(const std::shared_ptr<TlsConnection>& connection) {
    connection->setOnState(whileAlive(shared_from_this(), &ControlChannel::onState));
    std::lock_guard guard(lock);
    connection_ = connection;
}

// Runs on the queue, for an outgoing channel.
void ControlChannel::begin() {
    const auto& outgoing = std::get<Origin::Outgoing>(origin_.value);
    const std::shared_ptr<Queue> queue = queue_;
    // A host and port is dialled at once, so that sends made right after start are held by the
    // connection rather than dropped while a resolution would pass it through; the connection's
    // own time-out, which starts now too, bounds the way to ready.
    if (const auto* target = std::get_if<HostPort>(&outgoing.endpoint.target)) {
        connect(*target);
        return;
    }
    connectTimeout_ = queue->postAfter(
        options_.connectTimeout,
        whileAlive(shared_from_this(), [](ControlChannel& self) { self.close(CloseReason::unreachable); }));
    const auto& factory = options_.resolverFactory;
    resolver_ = std::make_shared<ServiceResolver>(queue, factory ? factory(queue) : nullptr);
    resolver_->resolve(outgoing.endpoint, options_.resolutionLimit,
                       whileAlive(shared_from_this(), &ControlChannel::resolved));
}

void ControlChannel::resolved(std::optional<Endpoint> found) {
    if (didClose_) {
        return;
    }
    retireResolver();
    const auto* target = found ? std::get_if<HostPort>(&found->target) : nullptr;
    if (!target) {
        close(CloseReason::unreachable);
        return;
    }
    connect(*target);
}

void ControlChannel::connect(const HostPort& target) {
    const auto& outgoing = std::get<Origin::Outgoing>(origin_.value);
    auto connection =
        TlsConnection::connect(target, VelmService::tlsParameters({outgoing.key}), options_.connectTimeout);
    installConnection(connection);
    connection->start(queue_);
}

void ControlChannel::onState(TlsConnection::State state, const std::optional<NetError>& error) {
    if (didClose_) {
        return;
    }
    switch (state) {
    case TlsConnection::State::failed:
        if (didBecomeReady_) {
            close(CloseReason::lost);
        } else {
            close(error && error->isTls() ? CloseReason::authenticationFailed : CloseReason::unreachable);
        }
        return;
    case TlsConnection::State::ready:
        didBecomeReady_ = true;
        connectTimeout_.cancel();
        // Reading starts first, so a handler that throws cannot stall the channel; the read
        // completes on the queue, after `ready`.
        armRead();
        deliver(Event::Ready{});
        return;
    case TlsConnection::State::cancelled: // by someone else: our own close removes this handler first
        close(CloseReason::cancelled);
        return;
    case TlsConnection::State::setup:
    case TlsConnection::State::preparing:
        return;
    }
}

void ControlChannel::armRead() {
    currentConnection()->receive(1, maxReadSize, whileAlive(shared_from_this(), &ControlChannel::onReceive));
}

void ControlChannel::onReceive(const Bytes& data, bool isComplete, const std::optional<NetError>& error) {
    // A read that completes after the close belongs to a connection being torn down.
    if (didClose_) {
        return;
    }
    if (!data.empty()) {
        try {
            parser_.feed(data, [this](const FrameParser::FrameView& frame) { dispatch(frame); });
        } catch (const WireError&) {
            close(CloseReason::lost);
            return;
        } catch (...) {
            // The handler threw in the middle of a read: the parser has lost its place.
            close(CloseReason::lost);
            throw;
        }
    }
    if (isComplete || error) {
        close(CloseReason::lost);
        return;
    }
    armRead();
}

void ControlChannel::dispatch(const FrameParser::FrameView& frame) {
    const ByteView payload = frame.payload;
    const std::optional<Channel> channel = channelFromRaw(frame.channel);
    if (!channel) {
        deliver(Event::Other{{frame.channel, Bytes(payload.begin(), payload.end())}});
        return;
    }
    switch (*channel) {
    case Channel::control:
        if (auto message = ControlMessage::fromJson(payload)) {
            deliver(Event::Control{std::move(*message)});
        }
        return;
    case Channel::input:
        if (auto event = decodeOrNothing<InputEvent>(payload)) {
            deliver(Event::Input{std::move(*event)});
        }
        return;
    case Channel::clipboard:
        if (auto message = decodeOrNothing<ClipboardMessage>(payload)) {
            deliver(Event::Clipboard{std::move(*message)});
        }
        return;
    case Channel::audio:
        if (payload.size() > sizeof(std::uint32_t)) {
            ByteReader reader(payload);
            const std::uint32_t sequence = reader.readUInt32();
            deliver(Event::Audio{sequence, reader.readRemaining()});
        }
        return;
    case Channel::file:
        if (!payload.empty()) {
            deliver(Event::File{Bytes(payload.begin(), payload.end())});
        }
        return;
    }
}

void ControlChannel::deliver(Event event) {
    if (onEvent_) {
        onEvent_(std::move(event));
    }
}

void ControlChannel::close(CloseReason reason) {
    if (didClose_) {
        return;
    }
    didClose_ = true;
    connectTimeout_.cancel();
    retireResolver();
    if (auto connection = connectionToEnd()) {
        connection->setOnState(nullptr);
        // Only the owner's own cancel has something worth flushing: a goodbye sent just before it.
        if (reason == CloseReason::cancelled) {
            connection->cancel();
        } else {
            connection->forceCancel();
        }
    }
    // Nothing is delivered after this, so the handler and what it holds can go.
    EventHandler handler = std::exchange(onEvent_, nullptr);
    if (handler) {
        handler(Event::Closed{reason});
    }
}

// An accepted connection is the channel's from the start, even while `start`, on another thread, has not
// installed it yet: a close in that moment still ends it, and `start` then finds it cancelled.
std::shared_ptr<TlsConnection> ControlChannel::connectionToEnd() const {
    if (auto connection = currentConnection()) {
        return connection;
    }
    if (const auto* accepted = std::get_if<Origin::Accepted>(&origin_.value)) {
        return accepted->connection;
    }
    return nullptr;
}

// The resolver may be the caller (its completion led here), so it is released later, on the queue.
void ControlChannel::retireResolver() {
    if (!resolver_) {
        return;
    }
    resolver_->cancel();
    queue_->post([resolver = std::exchange(resolver_, nullptr)] {});
}

bool ControlChannel::sendFrame(std::uint8_t channel, ByteView payload,
                               TlsConnection::SendCompletion completion) {
    if (payload.size() > ChannelFrame::maxPayloadLength) {
        log.error("dropped a %zu-byte payload on channel %u: over the frame limit", payload.size(),
                  static_cast<unsigned>(channel));
        return false;
    }
    const std::shared_ptr<TlsConnection> connection = currentConnection();
    if (!connection) {
        return false;
    }
    connection->send(*ChannelFrame::encode(channel, payload), std::move(completion));
    return true;
}

void ControlChannel::send(const ControlMessage& message) {
    if (const std::optional<Bytes> json = message.jsonEncoded()) {
        sendFrame(static_cast<std::uint8_t>(Channel::control), *json, {});
    }
}

void ControlChannel::send(const InputEvent& event) {
    sendFrame(static_cast<std::uint8_t>(Channel::input), event.encoded(), {});
}

void ControlChannel::send(const ClipboardMessage& message) {
    if (const std::optional<Bytes> payload = message.encoded()) {
        sendFrame(static_cast<std::uint8_t>(Channel::clipboard), *payload, {});
    }
}

void ControlChannel::sendAudio(ByteView packet, std::uint32_t sequence) {
    ByteWriter writer(packet.size() + sizeof sequence);
    writer.writeInteger(sequence);
    writer.writeBytes(packet);
    sendFrame(static_cast<std::uint8_t>(Channel::audio), writer.data(), {});
}

void ControlChannel::send(std::uint8_t channel, ByteView payload) {
    sendFrame(channel, payload, {});
}

void ControlChannel::send(const ControlMessage& message, SendCompletion completion) {
    if (const std::optional<Bytes> json = message.jsonEncoded()) {
        sendReporting(static_cast<std::uint8_t>(Channel::control), *json, std::move(completion));
    } else if (completion) {
        completion(false);
    }
}

void ControlChannel::sendFile(ByteView chunk, SendCompletion completion) {
    sendReporting(static_cast<std::uint8_t>(Channel::file), chunk, std::move(completion));
}

void ControlChannel::sendReporting(std::uint8_t channel, ByteView payload, SendCompletion completion) {
    const bool handedOver = sendFrame(channel, payload, [completion](const std::optional<NetError>& error) {
        if (completion) {
            completion(!error);
        }
    });
    if (!handedOver && completion) {
        completion(false);
    }
}

std::optional<Bytes> ControlChannel::sessionBinding() const {
    const auto connection = currentConnection();
    return connection ? connection->exportKeyingMaterial(bindingLabel, bindingSize) : std::nullopt;
}

bool ControlChannel::forwardSecret() const {
    const auto connection = currentConnection();
    return connection && connection->cipherSuite() == TlsParameters::suiteEcdhePskChacha20;
}

std::vector<std::string> ControlChannel::interfaceNames() const {
    const auto connection = currentConnection();
    return connection ? connection->interfaceNames() : std::vector<std::string>{};
}

std::optional<std::string> ControlChannel::remoteHost() const {
    const auto connection = currentConnection();
    return connection ? connection->remoteHost() : std::nullopt;
}

std::optional<std::string> ControlChannel::pskIdentity() const {
    const auto connection = currentConnection();
    return connection ? connection->pskIdentity() : std::nullopt;
}

std::optional<std::uint64_t> ControlChannel::lentKeyTag() const {
    const auto connection = currentConnection();
    return connection ? connection->lentKeyTag() : std::nullopt;
}

ControlMessage ControlChannel::hello(std::string deviceID, std::string deviceName,
                                     std::int64_t screenPixelWidth, std::int64_t screenPixelHeight,
                                     std::int64_t maxFPS, ByteView deviceKey) const {
    std::optional<Bytes> proof;
    if (const std::optional<Bytes> binding = sessionBinding()) {
        proof = helloProof(deviceKey, *binding);
    }
    return ControlMessage::hello(ClientHello(std::move(deviceID), std::move(deviceName), screenPixelWidth,
                                             screenPixelHeight, maxFPS, std::move(proof), std::nullopt,
                                             std::nullopt, std::nullopt, true));
}

} // namespace velm
