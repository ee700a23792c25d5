#include "tests/host/session/SessionHarness.h"

#include "Velm_Host/core/PairedDeviceStore.h"
#include "platform/crypto/Random.h"
#include "tests/support/Pump.h"
#include "transport/channel/VelmService.h"
#include "transport/keys/Pairing.h"

namespace velm::test {

SessionHarness::SessionHarness()
    : registry(DeviceRegistry::make(
          PairedDeviceStore(KeychainStore(std::string(PairedDeviceStore::keychainService),
                                          GenericPasswordStore(folder / "keychain"))),
          "HOST-ID", mainQueue)),
      history(ConnectionHistory::make(nullptr, mainQueue)) {
    registry->load();
}

SessionHarness::~SessionHarness() {
    if (listener_) {
        listener_->setNewConnectionHandler(nullptr);
        listener_->cancel();
        listener_.reset();
    }
    for (const auto& session : sessions_->values()) {
        session->close(std::nullopt);
    }
    queue->runUntilIdle();
    queue->advance(HostSession::cancelDelay);
    sessions_.reset();
    pumpUntilReleased(queue);
}

SecretBytes SessionHarness::pairDevice(const std::string& id) {
    registry->openPairing("123456", std::nullopt, 5, false);
    const Pairing::Offer offer;
    const Bytes binding = Random::bytes(32);
    const auto paired =
        registry->pair(PairRequest{.deviceID = id,
                                   .deviceName = id + " name",
                                   .publicKey = {offer.publicKey().begin(), offer.publicKey().end()}},
                       binding, PreSharedKey::pairingIdentity);
    const auto& response = std::get<PairResponse>(paired);
    return std::get<SecretBytes>(Pairing::openKey(response.sealedKey, response.publicKey, offer, binding));
}

void SessionHarness::listen(const std::vector<PreSharedKey>& extra) {
    auto keys = registry->listenerKeys();
    keys.insert(keys.end(), extra.begin(), extra.end());
    listener_ = TlsListener::make(VelmService::tlsParameters(keys), std::nullopt);
    auto ready = std::make_shared<EventLog<TlsListener::State>>();
    listener_->setStateHandler([ready](TlsListener::State state, const auto&) { ready->push(state); });
    listener_->setNewConnectionHandler([this, made = context(),
                                        sessions = sessions_](std::shared_ptr<TlsConnection> connection) {
        auto session = HostSession::make(ControlChannel::accepted(std::move(connection)), made, queue);
        session->setOnAuthenticated([this](HostSession::Snapshot snapshot) { authenticated.push(snapshot); });
        session->setOnEnded([this](HostSession::Ended end) { ended.push(end); });
        sessions->push(session);
        session->start();
    });
    listener_->start(listenerQueue_);
    ready->waitForCount(1);
}

Endpoint SessionHarness::endpoint() const {
    return Endpoint::hostPort("127.0.0.1", listener_->port());
}

bool SessionHarness::pumpUntil(const std::function<bool()>& condition) {
    return test::pumpUntil(*queue, condition);
}

bool SessionHarness::pumpUntilEnded(std::size_t count) {
    return pumpUntil([&] { return ended.values().size() >= count; });
}

std::shared_ptr<HostSession> SessionHarness::session(std::size_t index) const {
    return sessions_->values().at(index);
}

HostSession::Context SessionHarness::context() const {
    HostSession::Context made;
    made.registry = registry;
    made.history = history;
    made.desktop = desktop;
    made.input = input;
    made.curtain = curtain;
    made.hostName = "Test host";
    made.downloadFolder = folder.path();
    if (configure) {
        configure(made);
    }
    return made;
}

TestClient::TestClient(const Endpoint& endpoint, PreSharedKey key)
    : channel_(ControlChannel::outgoing(endpoint, std::move(key))) {
    channel_->setOnEvent([events = events_](ControlChannel::Event event) { events->push(std::move(event)); });
    channel_->start(Queue::make("test client"));
}

TestClient::~TestClient() {
    channel_->cancel();
    events_->waitFor([](const auto& events) {
        return !events.empty() && events.back().template get<ControlChannel::Event::Closed>();
    });
}

ClientHello TestClient::hello(const std::string& deviceID, ByteView deviceKey) const {
    return channel_->hello(deviceID, deviceID + " name", 2732, 2048, 120, deviceKey)
        .get<ControlMessage::Hello>()
        ->hello;
}

std::vector<ControlMessage> TestClient::received() const {
    std::vector<ControlMessage> messages;
    for (const auto& event : events_->values()) {
        if (const auto* control = event.get<ControlChannel::Event::Control>()) {
            messages.push_back(control->message);
        }
    }
    return messages;
}

bool TestClient::hasReceived(const std::function<bool(const ControlMessage&)>& match) const {
    const auto messages = received();
    return std::any_of(messages.begin(), messages.end(), match);
}

} // namespace velm::test
