#pragma once

#include "platform/discovery/ServicePublisher.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/net/TlsKeyLender.h"
#include "platform/net/TlsListener.h"
#include "protocol/DeviceModel.h"
#include "transport/keys/PreSharedKey.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

class ControlChannel;
class Discovery;
class TlsConnection;

// The host's end of the nearby connection: listens for TLS pre-shared-key connections, advertises
// the host as "_velm._tcp" when given a name, and hands every accepted connection to its owner as
// an unstarted ControlChannel.
//
// The port it once obtained is kept across later starts, so that clients find the host where they
// last saw it; a start that finds that port still in use tries it again a few times before it takes
// any port. An owner changes the accepted keys with setKeys, which keeps the port and every
// connection; a start replaces the listener, and with it the connections on their way to the owner.
//
// Every operation may be called from any thread; the work runs on the listener's queue, in call
// order, and every report is made there. Dropping the listener closes its port and takes the
// service off the network.
class HostListener : public std::enable_shared_from_this<HostListener> {
public:
    using Clock = Queue::Clock;

    class State {
    public:
        enum class Kind {
            advertising, // ready on port() (0 when unknown)
            failed,      // could not be made or failed: message()
            stopped,     // stopped by stop()
            starting,    // a new listener is being started
        };

        static State advertising(std::uint16_t port) { return State(Kind::advertising, port, {}); }
        static State failed(std::string message) { return State(Kind::failed, 0, std::move(message)); }
        static State stopped() { return State(Kind::stopped, 0, {}); }
        static State starting() { return State(Kind::starting, 0, {}); }

        Kind kind() const { return kind_; }
        std::uint16_t port() const { return port_; }
        const std::string& message() const { return message_; }

        bool operator==(const State&) const = default;

    private:
        State(Kind kind, std::uint16_t port, std::string message)
            : kind_(kind), port_(port), message_(std::move(message)) {}

        Kind kind_;
        std::uint16_t port_;
        std::string message_;
    };

    struct Options {
        // The machine named in the TXT record.
        DeviceModel model = DeviceModel::current();
        // The pause before a port found in use is tried again.
        Clock::duration retryDelay = std::chrono::milliseconds(250);
        // How long an accepted connection may take over its handshake.
        Clock::duration handshakeTimeout = TlsListener::defaultHandshakeTimeout;
    };

    // Starts on the kept port that find it in use, before one falls back to any port.
    static constexpr int keptPortAttempts = 5;
    // TXT key of the host identifier.
    static constexpr std::string_view hostIDKey = "id";

    using StateHandler = std::function<void(const State&)>;
    using ConnectionHandler = std::function<void(std::shared_ptr<ControlChannel>)>;
    using HandshakeFailedHandler = TlsListener::HandshakeFailedHandler;
    using AdvertisementHandler = std::function<void(const ServicePublisher::State&)>;

    static std::shared_ptr<HostListener> make(std::shared_ptr<Queue> queue,
                                              std::shared_ptr<Discovery> discovery, Options options);
    static std::shared_ptr<HostListener> make(std::shared_ptr<Queue> queue,
                                              std::shared_ptr<Discovery> discovery) {
        return make(std::move(queue), std::move(discovery), Options{});
    }

    ~HostListener();
    HostListener(const HostListener&) = delete;
    HostListener& operator=(const HostListener&) = delete;

    // Settable at any time; the handler in place when a report is made is the one called.
    void setOnState(StateHandler handler);
    // Without a handler, accepted connections are closed.
    void setOnConnection(ConnectionHandler handler);
    // A handshake with the current listener failed at the TLS level, with the pre-shared-key identity
    // the client offered, if any: a wrong pairing code shows here. Reported on the queue.
    void setOnHandshakeFailed(HandshakeFailedHandler handler);
    // How the advertisement of the current start stands on the network: registered under a name, or
    // unavailable (no mDNS daemon) or failed, with why. Apart from the listener's state, which tells
    // only whether devices can connect: they still can, by address and port, when nobody finds the
    // host. Reported on the queue.
    void setOnAdvertisement(AdvertisementHandler handler);

    // From the next start on, handshakes that offer an identity the lender decides get their key
    // from it rather than from the key list, at the moment each needs it.
    void setKeyLender(std::shared_ptr<TlsKeyLender> lender);

    // The port the owner would like. It counts only until a listener has reported a port: from then
    // on that port is kept and this changes nothing. Never starts or stops anything.
    void setPreferredPort(std::optional<std::uint16_t> port);

    // Starts listening, replacing any listener. Without a name nothing is advertised, but
    // connections are still accepted. An explicit port is bound as it is, never retried.
    void start(std::optional<std::string> name, std::string hostID, std::vector<PreSharedKey> keys,
               std::optional<std::uint16_t> port = std::nullopt);
    // The same with the one key derived from a pairing code.
    void start(std::optional<std::string> name, std::string hostID, std::string_view secret,
               std::optional<std::uint16_t> port = std::nullopt);
    // The keys that handshakes from now on are checked against, this start's retries included. The
    // port stays open and the service advertised, and connections accepted before are handed over as
    // ever: one admitted under a key that is gone since is its owner's to turn away.
    void setKeys(std::vector<PreSharedKey> keys);
    // Closes the port, takes the service off the network and calls off a pending retry. Reports
    // stopped when a listener was there.
    void stop();

private:
    struct Start {
        std::optional<std::string> name;
        std::string hostID;
        std::optional<std::uint16_t> explicitPort;
        int attempt = 0;
    };

    HostListener(std::shared_ptr<Queue> queue, std::shared_ptr<Discovery> discovery, Options options);

    // Runs `step` on the queue while the listener is alive.
    template <class Step> void onQueue(Step step);

    void begin(Start start);
    void end();
    void handleState(std::uint64_t generation, const Start& start, TlsListener::State state,
                     const std::optional<NetError>& error);
    void becameReady(const Start& start);
    void failed(std::uint64_t generation, const Start& start, const NetError& error);
    void accept(std::shared_ptr<TlsConnection> connection);
    void reportHandshakeFailure(std::optional<std::string> identity);
    void advertise(const Start& start, std::uint16_t port);
    void withdraw();
    void report(const State& state);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Discovery> discovery_;
    const Options options_;

    GuardedCallback<StateHandler> onState_;
    GuardedCallback<ConnectionHandler> onConnection_;
    GuardedCallback<HandshakeFailedHandler> onHandshakeFailed_;
    GuardedCallback<AdvertisementHandler> onAdvertisement_;

    // Touched on the queue only.
    std::shared_ptr<TlsListener> listener_;
    std::unique_ptr<ServicePublisher> publisher_;
    std::optional<std::string> publishedName_;
    std::optional<std::uint16_t> chosenPort_;
    std::shared_ptr<TlsKeyLender> lender_;
    // Of the latest start or setKeys.
    std::vector<PreSharedKey> keys_;
    std::uint64_t generation_ = 0;
    WorkItem restart_;
};

} // namespace velm
