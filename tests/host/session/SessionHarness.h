#pragma once

#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/HostSession.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/net/TlsListener.h"
#include "tests/support/EventLog.h"
#include "tests/support/FakeSessionDesktop.h"
#include "tests/support/RecordingInputSink.h"
#include "tests/support/RecordingTextFocus.h"
#include "tests/support/TemporaryFolder.h"

namespace velm::test {

template <typename Case> bool isMessage(const ControlMessage& message) {
    return message.get<Case>() != nullptr;
}

// Pairs a device through the registry as its client would; its key.
SecretBytes pairThrough(DeviceRegistry& registry, const std::string& id);

// Raises when asked to, and remembers, for each session it served, whether it ended in order.
class RecordingCurtain final : public SessionCurtain {
public:
    CurtainState raise(bool force) override { return set(on || force); }
    CurtainState set(bool raise) override {
        on = raise;
        return {.available = true, .on = on};
    }
    void sessionEnded(bool orderly) override { endings.push_back(orderly); }
    bool coversScreens() override { return on; }

    bool on = false;
    std::vector<bool> endings;
};

// The host's side: a registry and a history in a temporary folder, and a listener on loopback that
// makes a HostSession for every connection. The sessions run on a manual queue that the test pumps,
// so their time-outs run on virtual time while the network is real.
class SessionHarness {
public:
    SessionHarness();
    ~SessionHarness();

    // Pairs a device through the registry; its key.
    SecretBytes pairDevice(const std::string& id);
    // Listens with the keys the registry admits now, and `extra`.
    void listen(const std::vector<PreSharedKey>& extra = {});
    Endpoint endpoint() const { return Endpoint::hostPort("127.0.0.1", listener_->port()); }
    bool pumpUntil(const std::function<bool()>& condition);
    std::shared_ptr<HostSession> session(std::size_t index) const { return sessions_->values().at(index); }
    // Sessions made so far, one for every connection whose handshake the listener finished.
    std::size_t sessionCount() const { return sessions_->values().size(); }

    TemporaryFolder folder;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.session");
    std::shared_ptr<ManualQueue> mainQueue = std::make_shared<ManualQueue>("main");
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<ConnectionHistory> history = ConnectionHistory::make(nullptr, mainQueue);
    std::shared_ptr<FakeSessionDesktop> desktop = std::make_shared<FakeSessionDesktop>();
    std::shared_ptr<RecordingInputSink> input = std::make_shared<RecordingInputSink>();
    std::shared_ptr<RecordingCurtain> curtain = std::make_shared<RecordingCurtain>();
    std::shared_ptr<RecordingTextFocus> textFocus = std::make_shared<RecordingTextFocus>();
    // How often the sessions asked for each of the parts above (on the queue).
    struct {
        int desktops = 0;
        int inputs = 0;
        int textFocuses = 0;
    } made;
    // Changes the context of the sessions made from now on.
    std::function<void(HostSession::Context&)> configure;
    EventLog<HostSession::Snapshot> authenticated;
    EventLog<HostSession::Ended> ended;
    EventLog<HostNotice> notices;

private:
    std::shared_ptr<TlsListener> listener_;
    std::shared_ptr<EventLog<std::shared_ptr<HostSession>>> sessions_ =
        std::make_shared<EventLog<std::shared_ptr<HostSession>>>();
};

// A client's control channel driven by hand, recording every event on a queue of its own.
class TestClient {
public:
    TestClient(const Endpoint& endpoint, PreSharedKey key);
    ~TestClient();

    // A hello with the proof of `deviceKey` bound to this connection.
    ClientHello hello(const std::string& deviceID, ByteView deviceKey) const;
    void send(const ControlMessage& message) { channel_->send(message); }
    void send(const InputEvent& event) { channel_->send(event); }
    void sendFile(ByteView chunk) {
        channel_->sendFile(chunk, [](const auto&...) {});
    }
    // Closes without a goodbye.
    void drop() { channel_->cancel(); }

    std::vector<ControlMessage> received() const;
    // The reason of the first goodbye received, and the host's hello.
    std::optional<ByeReason> bye() const;
    std::optional<HostHello> hostHello() const;
    bool hasReceived(const std::function<bool(const ControlMessage&)>& match) const;
    template <typename Case> bool hasSeen() const {
        const auto events = events_->values();
        return std::any_of(events.begin(), events.end(),
                           [](const auto& e) { return e.template get<Case>(); });
    }

private:
    std::shared_ptr<ControlChannel> channel_;
    std::shared_ptr<EventLog<ControlChannel::Event>> events_ =
        std::make_shared<EventLog<ControlChannel::Event>>();
};

// A client of the device that has sent its hello, or null unless the host acknowledged it; `waitUntil`
// waits for a condition while it runs whatever the host needs.
std::unique_ptr<TestClient> helloedClient(const Endpoint& endpoint, const std::string& deviceID,
                                          const SecretBytes& key,
                                          const std::function<bool(const std::function<bool()>&)>& waitUntil);

} // namespace velm::test
