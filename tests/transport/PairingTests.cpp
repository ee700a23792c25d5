#include "transport/Pairing.h"
#include "tests/support/TestVectors.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::transportVector;

Bytes asBytes(ByteView bytes) { return Bytes(bytes.begin(), bytes.end()); }

template <typename Value>
std::optional<Pairing::Failure> failureOf(const std::variant<Value, Pairing::Failure>& result) {
    if (const Pairing::Failure* failure = std::get_if<Pairing::Failure>(&result)) {
        return *failure;
    }
    return std::nullopt;
}

// The device's half of the recorded pairing: its offer, and the host's response to it.
class RecordedPairingTest : public ::testing::Test {
protected:
    static Pairing::Offer recordedOffer() {
        std::optional<X25519PrivateKey> key = X25519PrivateKey::fromRaw(transportVector("pair_device_private"));
        EXPECT_TRUE(key.has_value());
        return Pairing::Offer(key ? *key : X25519PrivateKey::generate());
    }

    std::variant<SecretBytes, Pairing::Failure> open(ByteView sealed, ByteView hostPublic, ByteView withBinding) {
        return Pairing::openKey(sealed, hostPublic, offer, withBinding);
    }

    const Pairing::Offer offer = recordedOffer();
    const Bytes binding = transportVector("binding");
    const Bytes hostPublic = transportVector("pair_host_public");
    const Bytes sealed = transportVector("pair_sealed_key");
};

TEST_F(RecordedPairingTest, OpensTheKeySealedByAnIndependentImplementation) {
    const auto result = open(sealed, hostPublic, binding);
    ASSERT_FALSE(failureOf(result).has_value());
    EXPECT_EQ(asBytes(std::get<SecretBytes>(result)), transportVector("device_key"));
}

TEST_F(RecordedPairingTest, CannotOpenUnderAnotherBindingOfferOrHostKey) {
    Bytes otherBinding = binding;
    otherBinding[0] ^= 0x01;
    EXPECT_EQ(failureOf(open(sealed, hostPublic, otherBinding)), Pairing::Failure::cannotOpen);

    const Pairing::Offer otherOffer;
    EXPECT_EQ(failureOf(Pairing::openKey(sealed, hostPublic, otherOffer, binding)), Pairing::Failure::cannotOpen);

    const Pairing::Offer otherHost;
    EXPECT_EQ(failureOf(open(sealed, otherHost.publicKey(), binding)), Pairing::Failure::cannotOpen);
}

TEST_F(RecordedPairingTest, CannotOpenMisshapenOrAlteredBoxes) {
    EXPECT_EQ(failureOf(open(transportVector("pair_sealed_short_key"), hostPublic, binding)),
              Pairing::Failure::cannotOpen);
    EXPECT_EQ(failureOf(open(ByteView(sealed).first(28), hostPublic, binding)), Pairing::Failure::cannotOpen);
    EXPECT_EQ(failureOf(open({}, hostPublic, binding)), Pairing::Failure::cannotOpen);
    for (std::size_t index : {0u, 20u, 59u}) {
        Bytes altered = sealed;
        altered[index] ^= 0x01;
        EXPECT_EQ(failureOf(open(altered, hostPublic, binding)), Pairing::Failure::cannotOpen) << index;
    }
}

TEST_F(RecordedPairingTest, RefusesMalformedHostKeys) {
    EXPECT_EQ(failureOf(open(sealed, ByteView(hostPublic).first(31), binding)), Pairing::Failure::malformedKey);
    Bytes longer = hostPublic;
    longer.push_back(0);
    EXPECT_EQ(failureOf(open(sealed, longer, binding)), Pairing::Failure::malformedKey);
    EXPECT_EQ(failureOf(open(sealed, Bytes(32, 0), binding)), Pairing::Failure::keyAgreementFailed);
}

TEST(PairingTest, HostSealsWhatTheDeviceOpens) {
    const SecretBytes deviceKey = Pairing::newKey();
    const Bytes binding(32, 0x42);
    const Pairing::Offer offer;

    const auto sealed = Pairing::sealKey(deviceKey, offer.publicKey(), binding);
    ASSERT_FALSE(failureOf(sealed).has_value());
    const Pairing::SealedKey& response = std::get<Pairing::SealedKey>(sealed);

    const auto opened = Pairing::openKey(response.sealedKey, response.publicKey, offer, binding);
    ASSERT_FALSE(failureOf(opened).has_value());
    EXPECT_EQ(std::get<SecretBytes>(opened), deviceKey);

    // Relayed onto another connection, the response opens nowhere.
    const Bytes otherBinding(32, 0x43);
    EXPECT_EQ(failureOf(Pairing::openKey(response.sealedKey, response.publicKey, offer, otherBinding)),
              Pairing::Failure::cannotOpen);
}

TEST(PairingTest, EverySealUsesAFreshHostKey) {
    const SecretBytes deviceKey = Pairing::newKey();
    const Pairing::Offer offer;
    const auto first = Pairing::sealKey(deviceKey, offer.publicKey(), Bytes(32, 1));
    const auto second = Pairing::sealKey(deviceKey, offer.publicKey(), Bytes(32, 1));
    ASSERT_FALSE(failureOf(first) || failureOf(second));
    EXPECT_NE(std::get<Pairing::SealedKey>(first).publicKey, std::get<Pairing::SealedKey>(second).publicKey);
    EXPECT_NE(std::get<Pairing::SealedKey>(first).sealedKey, std::get<Pairing::SealedKey>(second).sealedKey);
}

TEST(PairingTest, SealingRefusesMalformedOrLowOrderDeviceKeys) {
    const SecretBytes deviceKey = Pairing::newKey();
    EXPECT_EQ(failureOf(Pairing::sealKey(deviceKey, Bytes(31, 9), {})), Pairing::Failure::malformedKey);
    EXPECT_EQ(failureOf(Pairing::sealKey(deviceKey, Bytes(32, 0), {})), Pairing::Failure::keyAgreementFailed);
}

} // namespace
} // namespace velm
