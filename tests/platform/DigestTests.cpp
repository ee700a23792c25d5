#include "platform/crypto/Hkdf.h"
#include "platform/crypto/Hmac.h"
#include "platform/crypto/Sha256.h"
#include "tests/support/TestVectors.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using test::fromHex;

// Digests and codes are both 32-byte arrays.
Bytes asBytes(const Sha256::Digest& digest) {
    return Bytes(digest.begin(), digest.end());
}

TEST(Sha256Test, MatchesFipsExamples) {
    EXPECT_EQ(asBytes(Sha256::digest({toBytes("abc")})),
              fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(asBytes(Sha256::digest({})),
              fromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(asBytes(Sha256::digest({toBytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")})),
              fromHex("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
    EXPECT_EQ(asBytes(Sha256::digest({toBytes(std::string(1'000'000, 'a'))})),
              fromHex("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST(Sha256Test, PartsHashAsOneRun) {
    EXPECT_EQ(Sha256::digest({toBytes("ab"), {}, toBytes("c")}), Sha256::digest({toBytes("abc")}));
}

struct HmacCase {
    std::string key;
    const char* data;
    const char* code;
};

// RFC 4231, test cases 1, 2 and 6 (6 has a key longer than a block: 131 bytes of 0xaa).
const HmacCase rfc4231[] = {
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265",
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {std::string(262, 'a'),
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368204b65792046697"
     "27374",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
};

TEST(HmacTest, MatchesRfc4231AndTheEmptyCase) {
    for (const HmacCase& test : rfc4231) {
        EXPECT_EQ(asBytes(Hmac::sha256(fromHex(test.key), {fromHex(test.data)})), fromHex(test.code))
            << test.code;
    }
    // An empty key over an empty message is a valid input too.
    EXPECT_EQ(asBytes(Hmac::sha256({}, {})),
              fromHex("b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"));
}

TEST(HmacTest, VerificationIsExactInLengthAndContent) {
    const Bytes key = toBytes("key");
    const Bytes message = toBytes("message");
    const Bytes code = asBytes(Hmac::sha256(key, {message}));
    EXPECT_TRUE(Hmac::isValidSha256(code, key, {message}));
    EXPECT_TRUE(Hmac::isValidSha256(code, key, {toBytes("mess"), toBytes("age")}));

    Bytes flipped = code;
    flipped.back() ^= 0x01;
    Bytes longer = code;
    longer.push_back(0);
    for (const Bytes& bad : {flipped, Bytes(code.begin(), code.end() - 1), longer, Bytes{}}) {
        EXPECT_FALSE(Hmac::isValidSha256(bad, key, {message})) << bad.size();
    }
    EXPECT_FALSE(Hmac::isValidSha256(code, toBytes("other"), {message}));
}

struct HkdfCase {
    const char* ikm;
    const char* salt;
    const char* info;
    std::size_t length;
    const char* okm;
};

// RFC 5869, test cases 1 and 3 (SHA-256; 3 has an empty salt and info).
const HkdfCase rfc5869[] = {
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c", "f0f1f2f3f4f5f6f7f8f9", 42,
     "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
    {"0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "", 42,
     "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
};

TEST(HkdfTest, MatchesRfc5869AndAnIndependentImplementation) {
    for (const HkdfCase& test : rfc5869) {
        const std::optional<SecretBytes> okm =
            Hkdf::sha256(fromHex(test.ikm), fromHex(test.salt), fromHex(test.info), test.length);
        ASSERT_TRUE(okm.has_value());
        EXPECT_EQ(Bytes(okm->view().begin(), okm->view().end()), fromHex(test.okm)) << test.okm;
    }
    const std::optional<SecretBytes> emptyKeyMaterial = Hkdf::sha256({}, {}, toBytes("info"), 32);
    ASSERT_TRUE(emptyKeyMaterial.has_value());
    EXPECT_EQ(Bytes(emptyKeyMaterial->view().begin(), emptyKeyMaterial->view().end()),
              test::transportVector("hkdf_empty_ikm"));
}

TEST(HkdfTest, RefusesLengthsTheConstructionCannotGive) {
    const Bytes ikm(32, 7);
    EXPECT_FALSE(Hkdf::sha256(ikm, {}, {}, 0).has_value());
    EXPECT_FALSE(Hkdf::sha256(ikm, {}, {}, Hkdf::maxLength + 1).has_value());
    const std::optional<SecretBytes> longest = Hkdf::sha256(ikm, {}, {}, Hkdf::maxLength);
    ASSERT_TRUE(longest.has_value());
    EXPECT_EQ(longest->size(), Hkdf::maxLength);
}

} // namespace
} // namespace velm
