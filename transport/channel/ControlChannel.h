#pragma once

#include "platform/core/Bytes.h"
#include "platform/discovery/InstanceResolver.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/TlsConnection.h"
#include "protocol/ChannelFrame.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/ControlMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/InputEvent.h"
#include "transport/channel/Endpoint.h"
#include "transport/discovery/ServiceResolver.h"
#include "transport/keys/PreSharedKey.h"

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace velm {

class Queue;

// How an outgoing control channel reaches its peer: its time limits (tests shorten them) and what
// looks an advertised service up.
struct ControlChannelOptions {
    // Makes a resolver reporting on the given queue (the discovery layer's Discovery::makeResolver).
    using ResolverFactory = std::function<std::unique_ptr<InstanceResolver>(std::shared_ptr<Queue>)>;

    // From start to ready: resolution, TCP and the handshake.
    std::chrono::steady_clock::duration connectTimeout = std::chrono::seconds(8);
    // For turning a service endpoint into an address and port.
    std::chrono::steady_clock::duration resolutionLimit = std::chrono::seconds(4);
    // Without one, a service endpoint is unreachable.
    ResolverFactory resolverFactory;
};

// One framed control connection between host and client: TLS 1.2 with a pre-shared key over
// TCP, carrying channel frames. The owner sets its event handler, starts it on a serial queue
// and from then on sees only events, all delivered on that queue: `ready` once the peer is
// authenticated, then one event per frame that decodes (a frame that does not is dropped and
// the channel stays open), and `closed` exactly once, after which nothing more arrives.
//
// Sends, the queries and cancel() may be called from any thread. A channel is used once.
// Dropping the last reference closes the connection without an event; cancel() instead
// delivers `closed(cancelled)` even when the owner lets go at once.
class ControlChannel : public std::enable_shared_from_this<ControlChannel> {
public:
    using Duration = std::chrono::steady_clock::duration;

    enum class CloseReason { authenticationFailed, unreachable, lost, cancelled };

    class Event {
    public:
        struct Control {
            ControlMessage message;
            friend bool operator==(const Control&, const Control&) = default;
        };
        struct Input {
            InputEvent event;
            friend bool operator==(const Input&, const Input&) = default;
        };
        struct Clipboard {
            ClipboardMessage message;
            friend bool operator==(const Clipboard&, const Clipboard&) = default;
        };
        // A sound packet, never empty.
        struct Audio {
            std::uint32_t sequence;
            Bytes packet;
            friend bool operator==(const Audio&, const Audio&) = default;
        };
        // File data, never empty.
        struct File {
            Bytes data;
            friend bool operator==(const File&, const File&) = default;
        };
        // A frame on a channel from 5 to 255, passed on whole.
        struct Other {
            ChannelFrame frame;
            friend bool operator==(const Other&, const Other&) = default;
        };
        struct Closed {
            CloseReason reason;
            friend bool operator==(const Closed&, const Closed&) = default;
        };
        struct Ready {
            friend bool operator==(const Ready&, const Ready&) = default;
        };

        using Value = std::variant<Control, Input, Clipboard, Audio, File, Other, Closed, Ready>;

        template <typename Alternative>
        requires(!std::same_as<std::remove_cvref_t<Alternative>, Event> &&
                 std::is_constructible_v<Value, Alternative&&>) Event(Alternative&& value)
            : value_(std::forward<Alternative>(value)) {}

        const Value& value() const { return value_; }
        Value& value() { return value_; }
        // The event's payload when it is of that case, else null.
        template <typename Alternative> const Alternative* get() const {
            return std::get_if<Alternative>(&value_);
        }

        friend bool operator==(const Event&, const Event&) = default;

    private:
        Value value_;
    };

    using EventHandler = std::function<void(Event)>;
    using SendCompletion = std::function<void(bool sent)>;

    // How the channel was made: around a connection a listener accepted, or to dial out.
    struct Origin {
        struct Accepted {
            std::shared_ptr<TlsConnection> connection;
        };
        struct Outgoing {
            Endpoint endpoint;
            PreSharedKey key;
        };
        std::variant<Accepted, Outgoing> value;
    };

    using Options = ControlChannelOptions;

    // Large reads let a file transfer take a whole 256 KiB frame and more per hop.
    static constexpr std::size_t maxReadSize = 1024 * 1024;
    static constexpr std::string_view bindingLabel = "velm-session-binding-v1";
    static constexpr std::size_t bindingSize = 32;

    // None of these touches the network.
    static std::shared_ptr<ControlChannel> accepted(std::shared_ptr<TlsConnection> connection);
    static std::shared_ptr<ControlChannel> outgoing(Endpoint endpoint, PreSharedKey key,
                                                    Options options = {});
    // Presents the key derived from a pairing code.
    static std::shared_ptr<ControlChannel> outgoing(Endpoint endpoint, std::string_view secret,
                                                    Options options = {});

    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Set before start. The handler is let go of after `closed`.
    void setOnEvent(EventHandler handler);

    // Call once. A channel cancelled before it was started stays closed and reports nothing.
    void start(std::shared_ptr<Queue> queue);

    // Closes with `cancelled` on the channel's queue, after the events of data already read.
    // What was sent before is still flushed (within about a second), then the TLS session
    // is closed properly. Before start: an accepted connection is closed, without an event.
    void cancel();

    // Sends are dropped when there is no connection yet (before start, or while an outgoing
    // channel resolves its endpoint); before ready the connection holds them. A payload
    // over the frame limit, which the peer would answer by closing, is dropped and logged.
    void send(const ControlMessage& message);
    void send(const InputEvent& event);
    void send(const ClipboardMessage& message);
    void sendAudio(ByteView packet, std::uint32_t sequence);
    void send(std::uint8_t channel, ByteView payload);
    // The completion runs on the channel's queue once the chunk is handed to the network,
    // with false when it failed; at once on the calling thread, with false, when the chunk
    // cannot be sent at all.
    void sendFile(ByteView chunk, SendCompletion completion);
    // A control message with a completion as for sendFile, so that a burst of large messages can go
    // one after the other instead of piling up in the connection's bounded write backlog.
    void send(const ControlMessage& message, SendCompletion completion);

    // 32 bytes exported from the TLS session; absent until the handshake completed.
    std::optional<Bytes> sessionBinding() const;
    // True when the negotiated suite is the ephemeral-key one.
    bool forwardSecret() const;
    // The interfaces this connection's local address is on.
    std::vector<std::string> interfaceNames() const;
    // The peer's numeric address.
    std::optional<std::string> remoteHost() const;
    // The identity of the pre-shared key that admitted the connection: a device identifier,
    // the pairing identity or the away identity.
    std::optional<std::string> pskIdentity() const;
    // What the lender of the admitting key lent it under, when the key was lent (the pairing
    // code's key is).
    std::optional<std::uint64_t> lentKeyTag() const;

    // The client's hello on this channel, with the proof of the device key bound to this TLS
    // session (no proof while there is no session).
    ControlMessage hello(std::string deviceID, std::string deviceName, std::int64_t screenPixelWidth,
                         std::int64_t screenPixelHeight, std::int64_t maxFPS, ByteView deviceKey) const;

    const Origin& origin() const { return origin_; }

private:
    ControlChannel(Origin origin, Options options);

    std::shared_ptr<TlsConnection> connectionToEnd() const;
    std::shared_ptr<TlsConnection> currentConnection() const;
    void installConnection(const std::shared_ptr<TlsConnection>& connection);

    void begin();
    void resolved(std::optional<Endpoint> found);
    void connect(const HostPort& target);
    void onState(TlsConnection::State state, const std::optional<NetError>& error);
    void armRead();
    void onReceive(const Bytes& data, bool isComplete, const std::optional<NetError>& error);
    void dispatch(const FrameParser::FrameView& frame);
    void deliver(Event event);
    void close(CloseReason reason);
    void retireResolver();
    bool sendFrame(std::uint8_t channel, ByteView payload, TlsConnection::SendCompletion completion);
    void sendReporting(std::uint8_t channel, ByteView payload, SendCompletion completion);

    const Origin origin_;
    const Options options_;

    // Guards the three fields below, which start() sets and any thread reads.
    mutable std::mutex lock;
    std::shared_ptr<Queue> queue_;
    std::shared_ptr<TlsConnection> connection_;
    bool cancelledBeforeStart_ = false;

    // Set before start, then touched on the queue only.
    EventHandler onEvent_;
    // Touched on the queue only.
    std::shared_ptr<ServiceResolver> resolver_;
    WorkItem connectTimeout_;
    FrameParser parser_;
    bool didBecomeReady_ = false;
    bool didClose_ = false;
};

} // namespace velm
