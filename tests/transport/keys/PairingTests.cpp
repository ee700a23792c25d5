#include "tests/support/TestVectors.h"
#include "transport/keys/Pairing.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::asBytes;
using test::extended;
using test::flipped;
using test::transportVector;
using Failure = Pairing::Failure;

template <typename Value> std::optional<Failure> failureOf(const std::variant<Value, Failure>& result) {
    if (const Failure* failure = std::get_if<Failure>(&result)) {
        return *failure;
    }
    return std::nullopt;
}

// The device's half of the recorded pairing: its offer, and the host's response to it.
class RecordedPairingTest : public ::testing::Test {
protected:
    static Pairing::Offer recordedOffer() {
        std::optional<X25519PrivateKey> key =
            X25519PrivateKey::fromRaw(transportVector("pair_device_private"));
        EXPECT_TRUE(key.has_value());
        return Pairing::Offer(key ? *key : X25519PrivateKey::generate());
    }

    const Pairing::Offer offer = recordedOffer();
    const Bytes binding = transportVector("binding");
    const Bytes hostPublic = transportVector("pair_host_public");
    const Bytes sealed = transportVector("pair_sealed_key");
};

TEST_F(RecordedPairingTest, OpensTheKeySealedByAnIndependentImplementation) {
    const auto result = Pairing::openKey(sealed, hostPublic, offer, binding);
    ASSERT_FALSE(failureOf(result).has_value());
    EXPECT_EQ(asBytes(std::get<SecretBytes>(result)), transportVector("device_key"));
}

TEST_F(RecordedPairingTest, RefusesAnotherSessionOfferOrHostKeyAndMisshapenBoxes) {
    const struct {
        const char* what;
        Bytes sealed;
        Bytes hostPublic;
        Bytes binding;
        Failure failure;
    } cases[] = {
        {"another binding", sealed, hostPublic, flipped(binding, 0), Failure::cannotOpen},
        {"another host key", sealed, asBytes(Pairing::Offer().publicKey()), binding, Failure::cannotOpen},
        {"a short key inside", transportVector("pair_sealed_short_key"), hostPublic, binding,
         Failure::cannotOpen},
        {"cut short", Bytes(sealed.begin(), sealed.begin() + 28), hostPublic, binding, Failure::cannotOpen},
        {"empty", {}, hostPublic, binding, Failure::cannotOpen},
        {"altered nonce", flipped(sealed, 0), hostPublic, binding, Failure::cannotOpen},
        {"altered ciphertext", flipped(sealed, 20), hostPublic, binding, Failure::cannotOpen},
        {"altered tag", flipped(sealed, 59), hostPublic, binding, Failure::cannotOpen},
        {"short host key", sealed, Bytes(hostPublic.begin(), hostPublic.end() - 1), binding,
         Failure::malformedKey},
        {"long host key", sealed, extended(hostPublic), binding, Failure::malformedKey},
        {"low-order host key", sealed, Bytes(32, 0), binding, Failure::keyAgreementFailed},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(failureOf(Pairing::openKey(test.sealed, test.hostPublic, offer, test.binding)),
                  test.failure)
            << test.what;
    }
    EXPECT_EQ(failureOf(Pairing::openKey(sealed, hostPublic, Pairing::Offer(), binding)),
              Failure::cannotOpen);
}

// Each seal uses a fresh host key, and opens only on the session it was made for.
TEST(PairingTest, HostSealsWhatTheDeviceOpens) {
    const SecretBytes deviceKey = Pairing::newKey();
    const Bytes binding(32, 0x42);
    const Pairing::Offer offer;
    const auto sealed = Pairing::sealKey(deviceKey, offer.publicKey(), binding);
    const auto again = Pairing::sealKey(deviceKey, offer.publicKey(), binding);
    ASSERT_FALSE(failureOf(sealed) || failureOf(again));
    const Pairing::SealedKey& response = std::get<Pairing::SealedKey>(sealed);
    EXPECT_NE(response.publicKey, std::get<Pairing::SealedKey>(again).publicKey);
    EXPECT_NE(response.sealedKey, std::get<Pairing::SealedKey>(again).sealedKey);

    const auto opened = Pairing::openKey(response.sealedKey, response.publicKey, offer, binding);
    ASSERT_FALSE(failureOf(opened).has_value());
    EXPECT_EQ(std::get<SecretBytes>(opened), deviceKey);
    EXPECT_EQ(failureOf(Pairing::openKey(response.sealedKey, response.publicKey, offer, Bytes(32, 0x43))),
              Failure::cannotOpen);
}

TEST(PairingTest, SealingRefusesMalformedOrLowOrderDeviceKeys) {
    const SecretBytes deviceKey = Pairing::newKey();
    EXPECT_EQ(failureOf(Pairing::sealKey(deviceKey, Bytes(31, 9), {})), Failure::malformedKey);
    EXPECT_EQ(failureOf(Pairing::sealKey(deviceKey, Bytes(32, 0), {})), Failure::keyAgreementFailed);
}

} // namespace
} // namespace velm
