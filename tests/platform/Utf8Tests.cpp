#include "platform/core/Utf8.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

TEST(Utf8Test, AcceptsWellFormedTextOnly) {
    EXPECT_TRUE(Utf8::isValid(""));
    EXPECT_TRUE(Utf8::isValid("plain ascii"));
    EXPECT_TRUE(Utf8::isValid("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_TRUE(Utf8::isValid("\xF4\x8F\xBF\xBF")); // U+10FFFF
    EXPECT_TRUE(Utf8::isValid(std::string("nul\0inside", 10)));

    EXPECT_FALSE(Utf8::isValid("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(Utf8::isValid("\xE0\x80\xAF"));     // overlong, three bytes
    EXPECT_FALSE(Utf8::isValid("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(Utf8::isValid("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(Utf8::isValid("\xE2\x82"));         // cut short
    EXPECT_FALSE(Utf8::isValid("\x80"));             // stray continuation
    EXPECT_FALSE(Utf8::isValid("\xC3\x28"));         // bad continuation
    EXPECT_FALSE(Utf8::isValid("\xFF"));
}

} // namespace
} // namespace velm
