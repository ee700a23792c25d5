#include "tests/host/model/ModelHarness.h"
#include "tests/support/EventLog.h"
#include "tests/support/HandshakeCrowd.h"
#include "transport/client/requests/PairingClient.h"

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

} // namespace
} // namespace velm
