#include "tests/support/TestVectors.h"
#include "transport/keys/AwaySignature.h"
#include "transport/keys/HelloProof.h"
#include "transport/keys/PreSharedKey.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using test::extended;
using test::flipped;
using test::transportVector;

class HelloProofTest : public ::testing::Test {
protected:
    const Bytes deviceKey = transportVector("device_key");
    const Bytes binding = transportVector("binding");
    const Bytes proof = transportVector("hello_proof");
};

TEST_F(HelloProofTest, MatchesIndependentDerivation) {
    EXPECT_EQ(helloProof(deviceKey, binding), proof);
    EXPECT_TRUE(isValidHelloProof(proof, deviceKey, binding));
}

TEST_F(HelloProofTest, FailsForAnotherBindingKeyOrLength) {
    EXPECT_FALSE(isValidHelloProof(proof, deviceKey, flipped(binding, 31)));
    EXPECT_FALSE(isValidHelloProof(proof, flipped(deviceKey, 0), binding));
    EXPECT_FALSE(isValidHelloProof(proof, deviceKey, {}));
    EXPECT_FALSE(isValidHelloProof(ByteView(proof).first(31), deviceKey, binding));
    EXPECT_FALSE(isValidHelloProof({}, deviceKey, binding));
    EXPECT_FALSE(isValidHelloProof(extended(proof), deviceKey, binding));
}

class AwaySignatureTest : public ::testing::Test {
protected:
    const Bytes binding = transportVector("binding");
    const Bytes publicKey = transportVector("away_public_key");
    const Bytes signature = transportVector("away_signature");
};

TEST_F(AwaySignatureTest, AcceptsTheDevicesSignatureOfTheBinding) {
    EXPECT_TRUE(isValidAwayPublicKey(publicKey));
    EXPECT_TRUE(isValidAwaySignature(signature, publicKey, binding));
}

TEST_F(AwaySignatureTest, RefusesOtherFormsAndOtherMessages) {
    EXPECT_FALSE(isValidAwaySignature(transportVector("away_signature_der"), publicKey, binding));
    EXPECT_FALSE(isValidAwaySignature(transportVector("away_signature_unlabelled"), publicKey, binding));
    EXPECT_FALSE(isValidAwaySignature(signature, publicKey, flipped(binding, 0)));
}

TEST_F(AwaySignatureTest, RefusesKeysThatAreNotUncompressedCurvePoints) {
    for (const Bytes& key : {transportVector("away_public_key_compressed"), flipped(publicKey, 64)}) {
        EXPECT_FALSE(isValidAwayPublicKey(key));
        EXPECT_FALSE(isValidAwaySignature(signature, key, binding));
    }
}

Bytes keyBytes(const PreSharedKey& key) {
    return Bytes(key.key().view().begin(), key.key().view().end());
}

TEST(PreSharedKeyTest, PairingCodeKeyMatchesIndependentDerivation) {
    const PreSharedKey key = PreSharedKey::fromSecret("123456");
    EXPECT_EQ(key.identity(), "velm-psk-v1");
    EXPECT_EQ(keyBytes(key), transportVector("psk_123456"));
    EXPECT_EQ(keyBytes(PreSharedKey::fromSecret("000042")), transportVector("psk_000042"));
    EXPECT_EQ(keyBytes(PreSharedKey::fromSecret("")), transportVector("psk_empty"));
}

TEST(PreSharedKeyTest, RefusesIdentifiersThatCannotBeTlsIdentities) {
    using Error = PreSharedKey::IdentityError;
    const Bytes deviceKey(32, 1);
    const struct {
        std::string identifier;
        Error error;
    } refused[] = {
        {"", Error::empty},
        {std::string(257, 'd'), Error::tooLong},
        {std::string("dev\0ice", 7), Error::containsNul},
        {"velm-psk-v1", Error::reserved},
        {"velm-away", Error::reserved},
        {"velm-nobody", Error::reserved},
    };
    for (const auto& test : refused) {
        EXPECT_EQ(PreSharedKey::identityError(test.identifier), test.error) << test.identifier;
        EXPECT_FALSE(PreSharedKey::forDevice(test.identifier, deviceKey).has_value()) << test.identifier;
    }
    EXPECT_FALSE(PreSharedKey::identityError(std::string(256, 'd')).has_value());
    EXPECT_TRUE(PreSharedKey::forDevice(std::string(256, 'd'), deviceKey).has_value());
    EXPECT_TRUE(PreSharedKey::forDevice("velm-away-2", deviceKey).has_value());
}

} // namespace
} // namespace velm
