#include "tests/host/model/ModelHarness.h"
#include "tests/support/EventLog.h"
#include "tests/support/HandshakeCrowd.h"
#include "transport/client/requests/PairingClient.h"
#include "transport/keys/Pairing.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::HandshakeCrowd;
using test::RawTlsPeer;

constexpr std::string_view carriedOverCode = "123456";

RawTlsPeer::Options codeClient(std::string_view typed) {
    const auto key = PreSharedKey::fromSecret(typed).key();
    return {.identity = std::string(PreSharedKey::pairingIdentity),
            .key = Bytes(key.view().begin(), key.view().end())};
}

// The model hands its listener the registry's lender: wrong codes cost the window its tries as their
// handshakes check them, and the right one pairs.
TEST(HostModelPairingTest, TheListenerGetsTheCodesKeyFromTheRegistry) {
    test::ModelHarness host;
    // A code carried over from an earlier version opens the window before the listener first starts.
    ASSERT_TRUE(KeychainStore(std::string(PairedDeviceStore::keychainService),
                              GenericPasswordStore(host.folder / "keychain"))
                    .write(std::string(carriedOverCode), std::string(PairedDeviceStore::pairingCodeAccount)));
    host.start();
    ASSERT_TRUE(host.model->state().pairingWindow);

    const auto peers =
        HandshakeCrowd::handshakes(host.model->state().listenerState.port(),
                                   {codeClient("000001"), codeClient("000002"), codeClient("000003")});
    for (const auto& peer : peers) {
        ASSERT_TRUE(peer && !peer->handshakeSucceeded());
    }
    ASSERT_TRUE(host.pumpUntil([&] {
        const auto& window = host.model->state().pairingWindow;
        return window && window->wrongTriesLeft == PairingWindow::carriedOverWrongTries - 3;
    }));

    test::EventLog<PairingOutcome> outcomes;
    PairingClient::make(host.endpoint(), carriedOverCode)
        ->start("ipad", "iPad", Queue::make("client"),
                [&](PairingOutcome outcome) { outcomes.push(outcome); });
    ASSERT_TRUE(host.pumpUntil([&] { return !outcomes.values().empty(); }));
    EXPECT_TRUE(outcomes.values()[0].get<PairingOutcome::Paired>());
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().devices.size() == 1; }));
    EXPECT_FALSE(host.model->state().pairingWindow);
}

// A connection the code's key admitted that waits before it asks to pair: once the user has closed
// that code and opened another, it is sent away and leaves the new window open; a connection the new
// code admitted pairs, however long it waited.
TEST(HostModelPairingTest, OnlyTheCodeThatAdmittedAConnectionPairsOnIt) {
    using Event = ControlChannel::Event;
    test::ModelHarness host;
    host.start();
    const auto registry = host.model->registry();
    const Pairing::Offer offer;
    const auto pairRequest = [&](const std::string& id) {
        return ControlMessage::pairRequest(
            PairRequest{id, id, Bytes(offer.publicKey().begin(), offer.publicKey().end())});
    };
    // The listener starts again with each window's keys: a client may meet the old one on its way out.
    const auto readyClient = [&](std::string_view code) -> std::unique_ptr<test::TestClient> {
        for (int attempt = 0; attempt < 5; ++attempt) {
            host.pumpUntil([&] {
                return host.model->state().listenerState.kind() == HostListener::State::Kind::advertising;
            });
            auto client = std::make_unique<test::TestClient>(host.endpoint(), PreSharedKey::fromSecret(code));
            host.pumpUntil(
                [&] { return client->hasSeen<Event::Ready>() || client->hasSeen<Event::Closed>(); });
            if (client->hasSeen<Event::Ready>()) {
                return client;
            }
        }
        return nullptr;
    };

    registry->openPairing("111111", std::nullopt, 5, /*reusable=*/false);
    const auto closedCode = readyClient("111111");
    ASSERT_TRUE(closedCode);
    registry->closePairing();
    registry->openPairing("222222", std::nullopt, 5, /*reusable=*/false);
    auto openCode = readyClient("222222");
    ASSERT_TRUE(openCode);

    closedCode->send(pairRequest("ipad"));
    // Sent away; or, when the old code's listener let go of the connection before the model took it,
    // closed without a word. Either way it pairs nothing.
    ASSERT_TRUE(host.pumpUntil([&] { return closedCode->bye() || closedCode->hasSeen<Event::Closed>(); }));
    EXPECT_EQ(closedCode->bye().value_or(ByeReason::notPaired), ByeReason::notPaired);
    EXPECT_FALSE(closedCode->hasReceived(
        [](const ControlMessage& m) { return m.get<ControlMessage::PairResponse>(); }));
    EXPECT_TRUE(registry->devices().empty());
    ASSERT_TRUE(registry->pairingWindow());
    EXPECT_EQ(registry->pairingWindow()->code, "222222");

    // A connection that the listener let go of as it started again with the new code's key is made anew.
    const auto answered = [](const ControlMessage& m) { return m.get<ControlMessage::PairResponse>(); };
    bool paired = false;
    for (int attempt = 0; attempt < 3 && !paired; ++attempt) {
        auto client = attempt == 0 ? std::move(openCode) : readyClient("222222");
        ASSERT_TRUE(client);
        client->send(pairRequest("iphone"));
        host.pumpUntil([&] { return client->hasReceived(answered) || client->hasSeen<Event::Closed>(); });
        paired = client->hasReceived(answered);
    }
    ASSERT_TRUE(paired);
    ASSERT_TRUE(host.pumpUntil([&] { return host.model->state().devices.size() == 1; }));
    EXPECT_EQ(host.model->state().devices[0].id, "iphone");
    EXPECT_FALSE(host.model->state().pairingWindow);
}

} // namespace
} // namespace velm
