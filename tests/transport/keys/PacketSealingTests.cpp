#include "tests/support/TestVectors.h"
#include "transport/keys/PacketOpener.h"
#include "transport/keys/PacketSealer.h"

#include <gtest/gtest.h>

namespace velm {

// Reaches the sealer's counter, which has no setter: 2^64 seals cannot be run.
struct PacketSealerTestAccess {
    static void setCounter(PacketSealer& sealer, std::uint64_t counter) { sealer.counter_ = counter; }
};

namespace {

using test::transportVector;

class PacketSealingTest : public ::testing::Test {
protected:
    SecretBytes key() const { return SecretBytes(transportVector("video_key")); }
    PacketOpener opener(PacketDirection direction, bool rejectReplays) const {
        return PacketOpener(key(), direction, rejectReplays);
    }
};

TEST_F(PacketSealingTest, SealsAsAnIndependentImplementationDoes) {
    PacketSealer sealer(key(), PacketDirection::hostToClient);
    EXPECT_EQ(sealer.seal(transportVector("datagram_plaintext")), transportVector("datagram_h2c_1"));
    EXPECT_EQ(sealer.seal({}), transportVector("datagram_h2c_2"));
    EXPECT_EQ(sealer.counter(), 2u);
}

TEST_F(PacketSealingTest, OpensOnlyItsOwnDirection) {
    PacketOpener fromHost = opener(PacketDirection::hostToClient, false);
    PacketOpener fromClient = opener(PacketDirection::clientToHost, false);
    EXPECT_EQ(fromHost.open(transportVector("datagram_h2c_1")), transportVector("datagram_plaintext"));
    EXPECT_FALSE(fromClient.open(transportVector("datagram_h2c_1")).has_value());
    EXPECT_EQ(fromClient.open(transportVector("datagram_c2h_5")), toBytes("feedback 5"));
    EXPECT_FALSE(fromHost.open(transportVector("datagram_c2h_5")).has_value());
}

TEST_F(PacketSealingTest, RefusesShortDatagramsAndShortKeysAndOpensEmptyOnes) {
    PacketOpener fromHost = opener(PacketDirection::hostToClient, false);
    const Bytes empty = transportVector("datagram_h2c_2");
    ASSERT_EQ(empty.size(), 24u);
    EXPECT_EQ(fromHost.open(empty), Bytes{});
    EXPECT_FALSE(fromHost.open(ByteView(empty).first(23)).has_value());
    EXPECT_FALSE(fromHost.open({}).has_value());
    PacketSealer shortKey(SecretBytes(Bytes(31, 1)), PacketDirection::hostToClient);
    EXPECT_FALSE(shortKey.seal(toBytes("x")).has_value());
    PacketOpener shortOpener(SecretBytes(Bytes(31, 1)), PacketDirection::hostToClient, false);
    EXPECT_FALSE(shortOpener.open(empty).has_value());
}

TEST_F(PacketSealingTest, ChangingAnyByteMakesTheDatagramFail) {
    const Bytes datagram = transportVector("datagram_h2c_1");
    PacketOpener fromHost = opener(PacketDirection::hostToClient, true);
    for (std::size_t index = 0; index < datagram.size(); ++index) {
        Bytes altered = datagram;
        altered[index] ^= 0x01;
        EXPECT_FALSE(fromHost.open(altered).has_value()) << index;
    }
    // A forged datagram with a high counter never moves the replay mark.
    Bytes forged = datagram;
    forged[0] = 0xFF;
    EXPECT_FALSE(fromHost.open(forged).has_value());
    EXPECT_EQ(fromHost.highestCounter(), 0u);
    EXPECT_TRUE(fromHost.open(datagram).has_value());
}

TEST_F(PacketSealingTest, ReplayRejectionAcceptsOnlyRisingCounters) {
    PacketOpener fromClient = opener(PacketDirection::clientToHost, true);
    EXPECT_FALSE(fromClient.open(transportVector("datagram_c2h_0")).has_value());
    EXPECT_EQ(fromClient.open(transportVector("datagram_c2h_7")), toBytes("feedback 7"));
    EXPECT_EQ(fromClient.highestCounter(), 7u);
    EXPECT_FALSE(fromClient.open(transportVector("datagram_c2h_7")).has_value());
    EXPECT_FALSE(fromClient.open(transportVector("datagram_c2h_5")).has_value());
    EXPECT_EQ(fromClient.highestCounter(), 7u);
}

TEST_F(PacketSealingTest, SealerStopsAtTheLastCounterInsteadOfWrapping) {
    PacketSealer sealer(key(), PacketDirection::hostToClient);
    PacketSealerTestAccess::setCounter(sealer, PacketSealer::lastCounter - 1);
    const std::optional<Bytes> last = sealer.seal(toBytes("last"));
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(Bytes(last->begin(), last->begin() + 8), Bytes(8, 0xFF));
    EXPECT_EQ(opener(PacketDirection::hostToClient, true).open(*last), toBytes("last"));

    EXPECT_FALSE(sealer.seal(toBytes("wrapped")).has_value());
    EXPECT_FALSE(sealer.seal({}).has_value());
    EXPECT_EQ(sealer.counter(), PacketSealer::lastCounter);
}

TEST_F(PacketSealingTest, MovedSealerCarriesItsCounterAndLeavesNothingUsable) {
    PacketSealer first(key(), PacketDirection::hostToClient);
    ASSERT_TRUE(first.seal(toBytes("one")).has_value());
    PacketSealer second = std::move(first);
    EXPECT_FALSE(first.seal(toBytes("reuse")).has_value()); // NOLINT(bugprone-use-after-move)
    const std::optional<Bytes> next = second.seal(toBytes("two"));
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ((*next)[7], 2);
}

} // namespace
} // namespace velm
