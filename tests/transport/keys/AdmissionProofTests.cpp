#include "tests/support/TestVectors.h"
#include "transport/keys/AwaySignature.h"
#include "transport/keys/HelloProof.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

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
    Bytes longer = proof;
    longer.push_back(0);
    EXPECT_FALSE(isValidHelloProof(longer, deviceKey, binding));
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
    const Bytes compressed = transportVector("away_public_key_compressed");
    EXPECT_FALSE(isValidAwayPublicKey(compressed));
    EXPECT_FALSE(isValidAwaySignature(signature, compressed, binding));
    const Bytes offCurve = flipped(publicKey, 64);
    EXPECT_FALSE(isValidAwayPublicKey(offCurve));
    EXPECT_FALSE(isValidAwaySignature(signature, offCurve, binding));
}

} // namespace
} // namespace velm
