#include "tests/host/session/SessionHarness.h"

#include "platform/crypto/Random.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/Pump.h"
#include "transport/keys/Pairing.h"

namespace velm::test {

SessionHarness::SessionHarness()
    : registry(DeviceRegistry::make(
          PairedDeviceStore(KeychainStore(std::string(PairedDeviceStore::keychainService),
                                          GenericPasswordStore(folder / "keychain"))),
          "HOST-ID", mainQueue)) {
    registry->load();
}

// Ends every session and lets the manual queue go only once nothing of theirs holds it any more.
SessionHarness::~SessionHarness() {
    if (listener_) {
        listener_->setOnConnection(nullptr);
        listener_->cancel();
        listener_.reset();
    }
    for (const auto& session : sessions_->values()) {
        session->close(std::nullopt);
    }
    queue->runUntilIdle();
    queue->advance(HostSession::cancelDelay);
    sessions_.reset();
    // Its handlers hold the queue.
    textFocus.reset();
    pumpUntilReleased(queue);
}

SecretBytes pairThrough(DeviceRegistry& registry, const std::string& id) {
    registry.openPairing("123456", std::nullopt, 5, false);
    const Pairing::Offer offer;
    const Bytes binding = Random::bytes(32);
    const auto publicKey = offer.publicKey();
    const auto response = std::get<PairResponse>(
        registry.pair({.deviceID = id, .deviceName = id, .publicKey = {publicKey.begin(), publicKey.end()}},
                      binding, PreSharedKey::pairingIdentity, registry.lendPairingKey()->tag()));
    return std::get<SecretBytes>(Pairing::openKey(response.sealedKey, response.publicKey, offer, binding));
}

SecretBytes SessionHarness::pairDevice(const std::string& id) {
    return pairThrough(*registry, id);
}

void SessionHarness::listen(const std::vector<PreSharedKey>& extra) {
    auto keys = registry->listenerKeys();
    keys.insert(keys.end(), extra.begin(), extra.end());
    HostSession::Context context;
    context.registry = registry;
    context.history = history;
    context.makeDesktop = [this] {
        ++made.desktops;
        return desktop;
    };
    context.makeInput = [this] {
        ++made.inputs;
        return input;
    };
    context.makeTextFocus = [this] {
        ++made.textFocuses;
        return textFocus;
    };
    context.curtain = curtain;
    context.hostName = "Test host";
    context.downloadFolder = folder.path();
    if (configure) {
        configure(context);
    }
    // The registry's lender hands out the code's and the devices' keys, as it does for the model's listener.
    std::vector<TlsKey> tlsKeys;
    for (const auto& key : keys) {
        tlsKeys.push_back({key.identity(), key.key()});
    }
    listener_ =
        TlsListener::make(TlsParameters(std::move(tlsKeys), registry->listenerKeyLender()), std::nullopt);
    auto ready = std::make_shared<EventLog<TlsListener::State>>();
    listener_->setOnState([ready](TlsListener::State state, const auto&) { ready->push(state); });
    listener_->setOnConnection([this, context, sessions = sessions_](auto connection) {
        auto session = HostSession::make(ControlChannel::accepted(std::move(connection)), context, queue);
        session->setOnAuthenticated([this](HostSession::Snapshot snapshot) { authenticated.push(snapshot); });
        session->setOnEnded([this](HostSession::Ended end) { ended.push(end); });
        session->setOnNotice([this](HostNotice notice) { notices.push(std::move(notice)); });
        // Started before it is counted, so that a test that sees it counted finds its start queued.
        session->start();
        sessions->push(session);
    });
    listener_->start(Queue::make("listener"));
    ready->waitForCount(1);
}

bool SessionHarness::pumpUntil(const std::function<bool()>& condition) {
    return test::pumpUntil(*queue, condition);
}

TestClient::TestClient(const Endpoint& endpoint, PreSharedKey key)
    : channel_(ControlChannel::outgoing(endpoint, std::move(key))) {
    channel_->setOnEvent([events = events_](ControlChannel::Event event) { events->push(std::move(event)); });
    channel_->start(Queue::make("test client"));
}

TestClient::~TestClient() {
    channel_->cancel();
    // Called under the log's lock: looks only at the events it is given.
    events_->waitFor([](const auto& events) {
        return !events.empty() && events.back().template get<ControlChannel::Event::Closed>();
    });
}

ClientHello TestClient::hello(const std::string& deviceID, ByteView deviceKey) const {
    return channel_->hello(deviceID, deviceID, 2732, 2048, 120, deviceKey)
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

std::optional<ByeReason> TestClient::bye() const {
    for (const auto& message : received()) {
        if (const auto* bye = message.get<ControlMessage::Bye>()) {
            return bye->reason;
        }
    }
    return std::nullopt;
}

std::optional<HostHello> TestClient::hostHello() const {
    for (const auto& message : received()) {
        if (const auto* ack = message.get<ControlMessage::HelloAck>()) {
            return ack->hello;
        }
    }
    return std::nullopt;
}

bool TestClient::hasReceived(const std::function<bool(const ControlMessage&)>& match) const {
    const auto messages = received();
    return std::any_of(messages.begin(), messages.end(), match);
}

std::unique_ptr<TestClient>
helloedClient(const Endpoint& endpoint, const std::string& deviceID, const SecretBytes& key,
              const std::function<bool(const std::function<bool()>&)>& waitUntil) {
    using Event = ControlChannel::Event;
    auto client = std::make_unique<TestClient>(endpoint, *PreSharedKey::forDevice(deviceID, key.view()));
    waitUntil([&] { return client->hasSeen<Event::Ready>() || client->hasSeen<Event::Closed>(); });
    client->send(ControlMessage::hello(client->hello(deviceID, key.view())));
    const auto acknowledged = [&] { return client->hasReceived(isMessage<ControlMessage::HelloAck>); };
    waitUntil([&] { return acknowledged() || client->hasSeen<Event::Closed>(); });
    return acknowledged() ? std::move(client) : nullptr;
}

} // namespace velm::test
