// Base64, UTF-8, UUID and number text forms.
#include "platform/core/Base64.h"
#include "platform/core/Digits.h"
#include "platform/core/Utf8.h"
#include "platform/core/Uuid.h"

#include <gtest/gtest.h>
#include <set>

namespace velm {
namespace {

TEST(Base64, EncodesTheStandardVectors) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, text] : vectors) {
        EXPECT_EQ(Base64::encode(toBytes(plain)), text);
        EXPECT_EQ(Base64::decode(text), toBytes(plain)) << text;
    }
    EXPECT_EQ(Base64::encode(Bytes{0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64, DecodesOnlyWhatTheEncoderWrites) {
    for (const std::string_view text : {"Zg", "Zg=", "Zm9", "Zm 9v", "Zm9v\n", " Zm9v",
                                        "Zg==Zg==", "Z===", "====", "Zm=v", "Zh==", "Zm9=", "Zm9v-_=="}) {
        EXPECT_FALSE(Base64::decode(text).has_value()) << text;
    }
    EXPECT_FALSE(Base64::decode(std::string_view("Zm9v\0\0\0\0", 8)).has_value());
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
    EXPECT_TRUE(Utf8::isValid(""));
    EXPECT_TRUE(Utf8::isValid("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
    for (const std::string_view bad : {"\x80", "\xC0\xAF", "\xC3", "\xE0\x80\x80", "\xED\xA0\x80",
                                       "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "a\xE2\x82"}) {
        EXPECT_FALSE(Utf8::isValid(bad)) << bad;
    }
}

TEST(Utf8, ReplacesEachMaximalIllFormedSubpart) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Utf8::repaired("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf8::repaired("a\xFFz"), "a" + fffd + "z");
    EXPECT_EQ(Utf8::repaired("\xE2\x82z"), fffd + "z");            // a truncated sequence is one subpart
    EXPECT_EQ(Utf8::repaired("\xC0\xAF"), fffd + fffd);            // an overlong lead stands alone
    EXPECT_EQ(Utf8::repaired("\xED\xA0\x80"), fffd + fffd + fffd); // surrogates are not text
    EXPECT_EQ(Utf8::repaired("\xF0\x9F\x98"), fffd);
    EXPECT_TRUE(Utf8::isValid(Utf8::repaired("\xF8\x88\x80\x80\x80\xC3")));
}

TEST(Utf8, DecodesCodePointsUpToTheFirstIllFormedSequence) {
    EXPECT_EQ(Utf8::codePoints("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"),
              (std::u32string{U'a', 0xE9, 0x20AC, 0x1F600, 0x10FFFF}));
    EXPECT_EQ(Utf8::codePoints(std::string_view("\0\x7F", 2)), (std::u32string{0, 0x7F}));
    for (const std::string_view bad : {"a\x80y", "a\xC0\xAFy", "a\xC3", "a\xE0\x80\x80y", "a\xED\xA0\x80y",
                                       "a\xF4\x90\x80\x80y", "a\xF5\x80\x80\x80y", "a\xFFy", "a\xE2\x82y"}) {
        EXPECT_EQ(Utf8::codePoints(bad), std::u32string{U'a'}) << bad;
    }
}

TEST(Utf8, AppendsEachCodePointInTheShortestFormAtTheEdgesOfEachLength) {
    const std::u32string points{0, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
    std::string text;
    for (const char32_t point : points) {
        Utf8::append(text, point);
    }
    EXPECT_EQ(text.size(), 1 + 1 + 2 + 2 + 3 + 3 + 3 + 4 + 4u);
    EXPECT_TRUE(Utf8::isValid(text));
    EXPECT_EQ(Utf8::codePoints(text), points);
}

TEST(Uuid, ParsesEitherCaseWritesUpperCaseAndRejectsOtherForms) {
    const auto uuid = Uuid::parse("e621e1f8-C36C-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(uuid.has_value());
    EXPECT_EQ(uuid->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(std::tuple(uuid->bytes()[0], uuid->bytes()[15]), std::tuple(0xE6, 0x5F));
    EXPECT_EQ(Uuid::parse(uuid->string()), uuid);
    for (const std::string_view text :
         {"", "e621e1f8c36c495a93fc0c247a3e6e5f", "e621e1f8-c36c-495a-93fc-0c247a3e6e5",
          "e621e1f8-c36c-495a-93fc-0c247a3e6e5f0", "e621e1f8_c36c_495a_93fc_0c247a3e6e5f",
          "g621e1f8-c36c-495a-93fc-0c247a3e6e5f", "e621e1f-8c36c-495a-93fc-0c247a3e6e5f"}) {
        EXPECT_FALSE(Uuid::parse(text).has_value()) << text;
    }
}

TEST(Uuid, RandomOnesAreVersionFourAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 100; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(std::pair(uuid.bytes()[6] >> 4, uuid.bytes()[8] >> 6), std::pair(4, 2));
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Digits, ReadsDigitsOfTheBaseWithinTheCountAnd64Bits) {
    EXPECT_EQ(Digits::parse("00042", 10, 5), 42u);
    EXPECT_EQ(Digits::parse("1aF", 16, 3), 0x1AFu);
    EXPECT_EQ(Digits::parse("18446744073709551615", 10, 20), UINT64_MAX);
    for (const std::string_view text : {"", "+1", "-1", " 1", "1 ", "1.0", "0x1", "1e3", "\xd9\xa3"}) {
        EXPECT_FALSE(Digits::parse(text, 10, 20)) << text;
    }
    EXPECT_FALSE(Digits::parse("1g", 16, 20));
    EXPECT_FALSE(Digits::parse("000001", 10, 5));
    EXPECT_FALSE(Digits::parse("18446744073709551616", 10, 20));
    EXPECT_FALSE(Digits::parse("10000000000000000", 16, 17));
}

} // namespace
} // namespace velm
