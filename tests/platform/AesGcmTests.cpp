#include "platform/crypto/AesGcm.h"
#include "platform/crypto/SealedBox.h"
#include "tests/support/TestVectors.h"

#include <functional>
#include <gtest/gtest.h>
#include <numeric>

namespace velm {
namespace {

using test::fromHex;

struct GcmCase {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* nonce;
    const char* associatedData;
    const char* ciphertext;
    const char* tag;
};

constexpr const char* longPlaintext =
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525"
    "b16aedf5aa0de657ba637b391aafd255";
constexpr const char* shortPlaintext =
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525"
    "b16aedf5aa0de657ba637b39";
constexpr const char* gcmNonce = "cafebabefacedbaddecaf888";
constexpr const char* gcmData = "feedfacedeadbeeffeedfacedeadbeefabaddad2";
constexpr const char* zeros16 = "00000000000000000000000000000000";
constexpr const char* zeros12 = "000000000000000000000000";

// The test cases published with GCM (McGrew and Viega) that use 96-bit nonces.
const GcmCase publishedCases[] = {
    {"1", zeros16, "", zeros12, "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {"4", "feffe9928665731c6d6a8f9467308308", shortPlaintext, gcmNonce, gcmData,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa05"
     "1ba30b396a0aac973d58e091",
     "5bc94fbc3221a5db94fae95ae7121a47"},
    {"9", "feffe9928665731c6d6a8f9467308308feffe9928665731c", longPlaintext, gcmNonce, "",
     "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c7d773d00c144c525ac619d18c84a3f47"
     "18e2448b2fe324d9ccda2710acade256",
     "9924a7c8587336bfb118024db8674a14"},
    {"16", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", shortPlaintext, gcmNonce,
     gcmData,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838"
     "c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(AesGcmTest, SealsAndOpensThePublishedCasesWithAesKeysOnly) {
    for (std::size_t length : {0, 15, 31, 33}) {
        EXPECT_FALSE(AesGcm::make(Bytes(length, 1)).has_value()) << length;
    }
    for (const GcmCase& test : publishedCases) {
        SCOPED_TRACE(std::string("test case ") + test.name);
        std::optional<AesGcm> cipher = AesGcm::make(fromHex(test.key));
        ASSERT_TRUE(cipher.has_value());
        const Bytes plaintext = fromHex(test.plaintext);
        Bytes ciphertext(plaintext.size());
        Bytes tag(AesGcm::tagLength);
        ASSERT_TRUE(
            cipher->seal(fromHex(test.nonce), plaintext, fromHex(test.associatedData), ciphertext, tag));
        EXPECT_EQ(ciphertext, fromHex(test.ciphertext));
        EXPECT_EQ(tag, fromHex(test.tag));

        // The same object opens after sealing: it reloads the key for the other direction.
        Bytes opened(ciphertext.size());
        ASSERT_TRUE(cipher->open(fromHex(test.nonce), ciphertext, tag, fromHex(test.associatedData), opened));
        EXPECT_EQ(opened, plaintext);
    }
}

// A box is sealed under a fresh nonce and opened only untouched, with its own associated data and buffers of
// the right sizes, and a failed opening leaves no plaintext behind.
TEST(AesGcmTest, OpensOnlyTheUntouchedBox) {
    std::optional<AesGcm> cipher = AesGcm::make(Bytes(32, 9));
    ASSERT_TRUE(cipher.has_value());
    const Bytes plaintext = toBytes("the device key, say");
    const Bytes data = toBytes("velm-knock-v1");
    const std::optional<SealedBox> box = cipher->seal(plaintext, data);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(cipher->open(*box, data), plaintext);
    const std::optional<SealedBox> again = cipher->seal(plaintext, data);
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(again->nonce, box->nonce) << "every seal draws a fresh nonce";
    EXPECT_NE(again->ciphertext, box->ciphertext);

    const std::function<void(SealedBox&)> tampers[] = {[](SealedBox& b) { b.tag[0] ^= 0x80; },
                                                       [](SealedBox& b) { b.ciphertext[3] ^= 0x01; },
                                                       [](SealedBox& b) { b.nonce[11] ^= 0x01; }};
    for (const auto& tamper : tampers) {
        SealedBox changed = *box;
        tamper(changed);
        EXPECT_FALSE(cipher->open(changed, data).has_value());
        Bytes output(changed.ciphertext.size(), 0xAA);
        EXPECT_FALSE(cipher->open(changed.nonce, changed.ciphertext, changed.tag, data, output));
        EXPECT_EQ(output, Bytes(output.size(), 0));
    }
    EXPECT_FALSE(cipher->open(*box, toBytes("velm-knock-v2")).has_value());
    EXPECT_FALSE(cipher->open(*box, {}).has_value());

    Bytes ciphertext(plaintext.size());
    Bytes shortCiphertext(plaintext.size() - 1);
    Bytes tag(AesGcm::tagLength);
    Bytes shortTag(15);
    const Bytes nonce(AesGcm::nonceLength);
    EXPECT_FALSE(cipher->seal(Bytes(11), plaintext, {}, ciphertext, tag));
    EXPECT_FALSE(cipher->seal(nonce, plaintext, {}, shortCiphertext, tag));
    EXPECT_FALSE(cipher->seal(nonce, plaintext, {}, ciphertext, shortTag));
    EXPECT_FALSE(cipher->open(box->nonce, box->ciphertext, ByteView(box->tag).first(12), data, ciphertext));
}

TEST(SealedBoxTest, SplitsTheCombinedForm) {
    EXPECT_FALSE(SealedBox::fromCombined(Bytes(27)).has_value());
    Bytes combined(30);
    std::iota(combined.begin(), combined.end(), 0);
    const std::optional<SealedBox> box = SealedBox::fromCombined(combined);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(std::tuple(box->nonce[11], box->ciphertext, box->tag[15]), std::tuple(11, Bytes{12, 13}, 29));
    EXPECT_EQ(box->combined(), combined);
}

} // namespace
} // namespace velm
