#include "platform/net/TlsKeyLender.h"
#include "platform/net/TlsParameters.h"
#include "tests/support/HandshakeCrowd.h"
#include "tests/support/LoopbackServer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

namespace velm {
namespace {

using test::HeldHandshake;
using test::LoopbackServer;
using test::RawTlsPeer;
using Outcome = TlsKeyLender::Outcome;

const Bytes deviceKey(32, 5);
const Bytes codeKey(32, 7);
constexpr std::uint8_t badRecordMac = SSL_AD_BAD_RECORD_MAC;

// Lends the code's key while it may, and notes how each loan was settled.
class RecordingLender final : public TlsKeyLender {
public:
    bool decides(std::string_view identity) const override { return identity == "code"; }

    std::optional<Loan> lend(std::string_view /*identity*/) override {
        if (!willLend) {
            return std::nullopt;
        }
        return Loan(SecretBytes(codeKey), [settled = settled](Outcome outcome) { settled->push(outcome); });
    }

    std::atomic<bool> willLend = true;
    std::shared_ptr<test::EventLog<Outcome>> settled = std::make_shared<test::EventLog<Outcome>>();
};

struct ServerWithLender {
    ServerWithLender()
        // The code's identity is listed too: the lender decides for it all the same.
        : server(TlsParameters(
              {TlsKey{"device", SecretBytes(deviceKey)}, TlsKey{"code", SecretBytes(codeKey)}}, lender)) {}

    std::shared_ptr<RecordingLender> lender = std::make_shared<RecordingLender>();
    LoopbackServer server;
};

// Whether an identifier is paired must not show: an unknown identity fails where and as a wrong key
// does, and so does an identity whose key is not lent now.
TEST(TlsServerKeyTests, AnUnknownIdentityIsAnsweredAsAWrongKeyIs) {
    ServerWithLender host;
    host.lender->willLend = false;
    const auto peers = test::HandshakeCrowd::handshakes(
        host.server.port(), {{"device", Bytes(32, 6)}, {"stranger", deviceKey}, {"code", codeKey}});
    for (const auto& peer : peers) {
        ASSERT_TRUE(peer);
        EXPECT_FALSE(peer->handshakeSucceeded());
        EXPECT_EQ(peer->alert(), badRecordMac);
    }
    // Each still counts as a failed handshake with the identity it offered.
    ASSERT_TRUE(host.server.handshakeFailures().waitForCount(3));
    EXPECT_TRUE(host.lender->settled->values().empty());
}

TEST(TlsServerKeyTests, ALentKeyIsSettledByWhatItsHandshakeDidWithIt) {
    ServerWithLender host;
    const auto port = host.server.port();
    auto& settled = *host.lender->settled;

    auto right = RawTlsPeer::connect(port, {"code", codeKey});
    ASSERT_TRUE(right && right->handshakeSucceeded());
    ASSERT_TRUE(settled.waitForCount(1));
    auto wrong = RawTlsPeer::connect(port, {"code", Bytes(32, 8)});
    ASSERT_TRUE(wrong && !wrong->handshakeSucceeded());
    EXPECT_EQ(wrong->alert(), badRecordMac);
    ASSERT_TRUE(settled.waitForCount(2));

    // A handshake that never sends its Finished message never had the key checked.
    auto leaving = HeldHandshake::connect(port, {"code", Bytes(32, 8)});
    ASSERT_TRUE(leaving);
    leaving->abandon();
    ASSERT_TRUE(settled.waitForCount(3));
    auto slow = HeldHandshake::connect(port, {"code", codeKey});
    ASSERT_TRUE(slow && slow->finish());
    ASSERT_TRUE(settled.waitForCount(4));
    EXPECT_EQ(settled.values(), (std::vector<Outcome>{Outcome::admitted, Outcome::rejected, Outcome::unused,
                                                      Outcome::admitted}));

    // A key listed for the identity is not used while the lender lends nothing.
    host.lender->willLend = false;
    auto refused = RawTlsPeer::connect(port, {"code", codeKey});
    ASSERT_TRUE(refused && !refused->handshakeSucceeded());
    auto device = RawTlsPeer::connect(port, {"device", deviceKey});
    ASSERT_TRUE(device && device->handshakeSucceeded());
    EXPECT_EQ(settled.values().size(), 4u);
}

// A handshake the listener cuts off on its way (at its time-out, or to make room) gives its key back
// untested.
TEST(TlsServerKeyTests, AHandshakeCutOffOnItsWayLeavesItsKeyUntested) {
    auto lender = std::make_shared<RecordingLender>();
    LoopbackServer server(TlsParameters({TlsKey{"device", SecretBytes(deviceKey)}}, lender),
                          {.limits = {.handshakeTimeout = std::chrono::seconds(1)}});
    auto held = HeldHandshake::connect(server.port(), {"code", codeKey});
    ASSERT_TRUE(held);
    ASSERT_TRUE(lender->settled->waitForCount(1));
    EXPECT_EQ(lender->settled->values(), std::vector<Outcome>{Outcome::unused});
    EXPECT_FALSE(held->finish());
}

} // namespace
} // namespace velm
