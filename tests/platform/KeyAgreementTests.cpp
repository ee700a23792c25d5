#include "platform/crypto/EcdsaP256.h"
#include "platform/crypto/X25519PrivateKey.h"
#include "tests/support/TestVectors.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

using test::fromHex;

Bytes secretOf(const X25519PrivateKey& key, ByteView peer) {
    const std::optional<SecretBytes> secret = key.sharedSecret(peer);
    return secret ? Bytes(secret->view().begin(), secret->view().end()) : Bytes{};
}

X25519PrivateKey keyFrom(const char* hex) {
    std::optional<X25519PrivateKey> key = X25519PrivateKey::fromRaw(fromHex(hex));
    EXPECT_TRUE(key.has_value());
    return key ? *key : X25519PrivateKey::generate();
}

TEST(X25519Test, MatchesRfc7748ScalarMultiplication) {
    EXPECT_EQ(secretOf(keyFrom("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4"),
                       fromHex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c")),
              fromHex("c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"));
    // The top bit of this u-coordinate is set and must be ignored.
    EXPECT_EQ(secretOf(keyFrom("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d"),
                       fromHex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493")),
              fromHex("95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"));
}

TEST(X25519Test, MatchesRfc7748DiffieHellman) {
    const X25519PrivateKey alice =
        keyFrom("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const X25519PrivateKey bob = keyFrom("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const Bytes alicePublic(alice.publicKey().begin(), alice.publicKey().end());
    const Bytes bobPublic(bob.publicKey().begin(), bob.publicKey().end());
    EXPECT_EQ(alicePublic, fromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"));
    EXPECT_EQ(bobPublic, fromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"));
    const Bytes shared = fromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(std::pair(secretOf(alice, bobPublic), secretOf(bob, alicePublic)), std::pair(shared, shared));
}

TEST(X25519Test, RefusesWrongLengthsAndLowOrderPoints) {
    const X25519PrivateKey key = X25519PrivateKey::generate();
    EXPECT_FALSE(X25519PrivateKey::fromRaw(Bytes(31, 1)).has_value());
    EXPECT_FALSE(X25519PrivateKey::isValidPublicKey(Bytes(31, 1)));
    EXPECT_TRUE(X25519PrivateKey::isValidPublicKey(Bytes(32, 1)));
    EXPECT_FALSE(key.sharedSecret(Bytes(33, 1)).has_value());
    // u = 0 and u = 1 have small order: the shared secret would be all zeros.
    EXPECT_FALSE(key.sharedSecret(Bytes(32, 0)).has_value());
    Bytes one(32, 0);
    one[0] = 1;
    EXPECT_FALSE(key.sharedSecret(one).has_value());
}

TEST(X25519Test, GeneratedKeysDifferAndAgree) {
    const X25519PrivateKey first = X25519PrivateKey::generate();
    const X25519PrivateKey second = X25519PrivateKey::generate();
    EXPECT_NE(first.publicKey(), second.publicKey());
    EXPECT_EQ(secretOf(first, second.publicKey()), secretOf(second, first.publicKey()));
}

// RFC 6979, A.2.5: the P-256 key and its SHA-256 signatures of "sample" and "test".
const Bytes rfc6979Key = fromHex("04 60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
                                 "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
const Bytes sampleSignature = fromHex("efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
                                      "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8");
const Bytes testSignature = fromHex("f1abb023518351cd71d881567b1ea663ed3efcf6c5132b354f28d3b0b7d38367"
                                    "019f4113742a2b14bd25926b49c649155f267e60d3814b4c0cc84250e46f0083");

TEST(EcdsaP256Test, VerifiesRfc6979Signatures) {
    EXPECT_TRUE(EcdsaP256::isValidSignature(sampleSignature, rfc6979Key, toBytes("sample")));
    EXPECT_TRUE(EcdsaP256::isValidSignature(testSignature, rfc6979Key, toBytes("test")));
    EXPECT_FALSE(EcdsaP256::isValidSignature(sampleSignature, rfc6979Key, toBytes("test")));
    EXPECT_FALSE(EcdsaP256::isValidSignature(testSignature, rfc6979Key, toBytes("sample")));
}

TEST(EcdsaP256Test, RefusesAlteredOrMisshapenSignatures) {
    Bytes flipped = sampleSignature;
    flipped[40] ^= 0x01;
    Bytes swapped(sampleSignature.begin() + 32, sampleSignature.end());
    swapped.insert(swapped.end(), sampleSignature.begin(), sampleSignature.begin() + 32);
    Bytes longer = sampleSignature;
    longer.push_back(0);
    Bytes zeroR = sampleSignature;
    std::fill(zeroR.begin(), zeroR.begin() + 32, 0);
    const Bytes shorter(sampleSignature.begin(), sampleSignature.end() - 1);
    int index = 0;
    for (const Bytes& bad : {flipped, swapped, shorter, longer, zeroR, Bytes(64, 0)}) {
        EXPECT_FALSE(EcdsaP256::isValidSignature(bad, rfc6979Key, toBytes("sample"))) << index++;
    }
}

TEST(EcdsaP256Test, AcceptsOnlyUncompressedPointsOnTheCurve) {
    EXPECT_TRUE(EcdsaP256::isValidPublicKey(rfc6979Key));

    Bytes compressed(rfc6979Key.begin(), rfc6979Key.begin() + 33);
    compressed[0] = 0x03; // y is odd
    EXPECT_FALSE(EcdsaP256::isValidPublicKey(compressed));
    // Hybrid and compressed prefixes in front of both coordinates.
    for (const std::uint8_t prefix : std::to_array<std::uint8_t>({0x06, 0x07, 0x02, 0x00})) {
        Bytes other = rfc6979Key;
        other[0] = prefix;
        EXPECT_FALSE(EcdsaP256::isValidPublicKey(other)) << int(prefix);
        EXPECT_FALSE(EcdsaP256::isValidSignature(sampleSignature, other, toBytes("sample"))) << int(prefix);
    }
    Bytes offCurve = rfc6979Key;
    offCurve.back() ^= 0x01;
    EXPECT_FALSE(EcdsaP256::isValidPublicKey(offCurve));
    EXPECT_FALSE(EcdsaP256::isValidSignature(sampleSignature, offCurve, toBytes("sample")));
    EXPECT_FALSE(EcdsaP256::isValidPublicKey({}));
}

} // namespace
} // namespace velm
