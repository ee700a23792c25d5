#include "Velm_Host/core/DeviceRegistry.h"
#include "tests/support/EventLog.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/HandshakeCrowd.h"
#include "tests/support/TemporaryFolder.h"
#include "transport/channel/ControlChannel.h"
#include "transport/discovery/HostListener.h"
#include "transport/keys/Pairing.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

namespace velm {
namespace {

using test::HandshakeCrowd;
using test::HeldHandshake;
using test::RawTlsPeer;
using LendOutcome = TlsKeyLender::Outcome;

constexpr std::string_view pairingCode = "123456";

// The registry's lender, noting every code's key it lent and how each was settled.
class CountingLender final : public TlsKeyLender {
public:
    explicit CountingLender(std::shared_ptr<TlsKeyLender> lender) : lender_(std::move(lender)) {}

    bool decides(std::string_view identity) const override { return lender_->decides(identity); }

    std::optional<Loan> lend(std::string_view identity) override {
        auto loan = lender_->lend(identity);
        if (!loan || identity != PreSharedKey::pairingIdentity) {
            return loan;
        }
        lent.push(true);
        SecretBytes secret = loan->secret();
        return Loan(std::move(secret), [inner = std::make_shared<Loan>(std::move(*loan)),
                                        settled = settled](LendOutcome outcome) {
            settled->push(outcome);
            inner->settle(outcome);
        });
    }

    // Loans whose key a Finished message was checked against: the codes tried.
    std::size_t checked() const {
        const auto outcomes = settled->values();
        return static_cast<std::size_t>(std::count_if(
            outcomes.begin(), outcomes.end(), [](LendOutcome o) { return o != LendOutcome::unused; }));
    }

    test::EventLog<bool> lent;
    std::shared_ptr<test::EventLog<LendOutcome>> settled = std::make_shared<test::EventLog<LendOutcome>>();

private:
    std::shared_ptr<TlsKeyLender> lender_;
};

// The host's listener and registry as the host model wires them, on loopback, with a pairing window open.
class PairingCrowdTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry->load();
        registry->openPairing(std::string(pairingCode), std::nullopt, PairingWindow::standardWrongTries,
                              false);
        listener->setKeyLender(lender);
        listener->setOnState([this](const HostListener::State& state) { states.push(state); });
        listener->setOnConnection([this](std::shared_ptr<ControlChannel> channel) {
            std::lock_guard guard(channelsLock);
            channels.push_back(std::move(channel));
        });
        listener->start(std::nullopt, "HOST-ID", registry->listenerKeys());
        ASSERT_TRUE(states.waitFor([](const auto& all) {
            return !all.empty() && all.back().kind() == HostListener::State::Kind::advertising;
        }));
        port = states.values().back().port();
    }

    static RawTlsPeer::Options codeClient(std::string_view typed, std::string source = {}) {
        const auto key = PreSharedKey::fromSecret(typed).key();
        return {.identity = std::string(PreSharedKey::pairingIdentity),
                .key = Bytes(key.view().begin(), key.view().end()),
                .source = std::move(source)};
    }

    static std::string wrongCode(std::size_t index) { return std::to_string(200'000 + index); }

    test::TemporaryFolder temporary;
    std::shared_ptr<Queue> queue = Queue::make("owner");
    std::shared_ptr<DeviceRegistry> registry =
        DeviceRegistry::make(PairedDeviceStore(KeychainStore(std::string(PairedDeviceStore::keychainService),
                                                             GenericPasswordStore(temporary / "keychain"))),
                             "HOST-ID", queue);
    std::shared_ptr<CountingLender> lender = std::make_shared<CountingLender>(registry->listenerKeyLender());
    // Above the listener, whose handlers write them, so that they outlive it.
    test::EventLog<HostListener::State> states;
    std::mutex channelsLock;
    std::vector<std::shared_ptr<ControlChannel>> channels;
    std::shared_ptr<HostListener> listener =
        HostListener::make(Queue::make("listener"), std::make_shared<test::FakeDiscovery>());
    std::uint16_t port = 0;
};

TEST_F(PairingCrowdTest, FortyWrongCodesAtOnceHaveAtMostFiveCheckedAndCloseTheWindow) {
    std::vector<RawTlsPeer::Options> crowd;
    for (std::size_t i = 0; i < 40; ++i) {
        crowd.push_back(codeClient(wrongCode(i)));
    }
    for (const auto& peer : HandshakeCrowd::handshakes(port, crowd)) {
        ASSERT_TRUE(peer);
        EXPECT_FALSE(peer->handshakeSucceeded());
    }
    EXPECT_LE(lender->checked(), std::size_t{PairingWindow::standardWrongTries});
    EXPECT_FALSE(registry->pairingWindow());

    auto right = RawTlsPeer::connect(port, codeClient(pairingCode, HandshakeCrowd::source(40)));
    ASSERT_TRUE(right);
    EXPECT_FALSE(right->handshakeSucceeded());
    EXPECT_EQ(right->alert(), SSL_AD_BAD_RECORD_MAC);
    EXPECT_LE(lender->checked(), std::size_t{PairingWindow::standardWrongTries});
}

// Fifteen wrong codes whose handshakes have reached the key, but not yet sent their Finished message,
// hold every try the window has: the right code behind them is not checked at all.
TEST_F(PairingCrowdTest, WrongCodesUnderWayHoldTheTriesAndTheRightOneBehindThemGetsNoKey) {
    std::vector<std::unique_ptr<HeldHandshake>> held;
    for (std::size_t i = 0; i < 15; ++i) {
        held.push_back(HeldHandshake::connect(port, codeClient(wrongCode(i), HandshakeCrowd::source(i, 3))));
        ASSERT_TRUE(held.back());
    }
    ASSERT_TRUE(lender->lent.waitForCount(std::size_t{PairingWindow::standardWrongTries}));

    auto right = RawTlsPeer::connect(port, codeClient(pairingCode, HandshakeCrowd::source(15, 3)));
    ASSERT_TRUE(right);
    EXPECT_FALSE(right->handshakeSucceeded());
    EXPECT_EQ(right->alert(), SSL_AD_BAD_RECORD_MAC);

    for (const auto& each : held) {
        EXPECT_FALSE(each->finish());
        EXPECT_EQ(each->alert(), SSL_AD_BAD_RECORD_MAC);
    }
    EXPECT_EQ(lender->checked(), std::size_t{PairingWindow::standardWrongTries});
    EXPECT_FALSE(registry->pairingWindow());
}

TEST_F(PairingCrowdTest, FourWrongCodesAtOnceWithTheRightOneLetItPair) {
    std::vector<RawTlsPeer::Options> crowd;
    for (std::size_t i = 0; i < 4; ++i) {
        crowd.push_back(codeClient(wrongCode(i)));
    }
    crowd.insert(crowd.begin() + 2, codeClient(pairingCode));
    const auto peers = HandshakeCrowd::handshakes(port, crowd);
    for (std::size_t i = 0; i < peers.size(); ++i) {
        ASSERT_TRUE(peers[i]);
        EXPECT_EQ(peers[i]->handshakeSucceeded(), i == 2) << i;
    }

    // The window is still open for the device to pair on the connection its code opened.
    const auto admittedUnder = registry->lendPairingKey()->tag();
    const auto binding = peers[2]->binding();
    ASSERT_TRUE(binding);
    const Pairing::Offer offer;
    const PairRequest request{.deviceID = "ipad",
                              .deviceName = "iPad",
                              .publicKey = Bytes(offer.publicKey().begin(), offer.publicKey().end())};
    EXPECT_TRUE(std::holds_alternative<PairResponse>(
        registry->pair(request, *binding, PreSharedKey::pairingIdentity, admittedUnder)));
    EXPECT_EQ(registry->devices().size(), 1u);
}

} // namespace
} // namespace velm
