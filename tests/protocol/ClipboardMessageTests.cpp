#include <gtest/gtest.h>

#include <string>

#include "HexBytes.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/WireError.h"

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

Bytes tagged(std::uint8_t tag, std::size_t contentSize, std::uint8_t fill) {
    Bytes bytes(contentSize + 1, fill);
    bytes[0] = tag;
    return bytes;
}

TEST(ClipboardMessage, SubscriptionFlag) {
    EXPECT_EQ(ClipboardMessage::subscribe(true).encoded(), hexBytes("00 01"));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("00 07 FF")), ClipboardMessage::subscribe(true));
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(hexBytes("00")); }), WireError::truncated());
}

TEST(ClipboardMessage, TextRunsToTheEndOfTheFrame) {
    EXPECT_EQ(ClipboardMessage::text("hi").encoded(), hexBytes("01 6869"));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("01")), ClipboardMessage::text(""));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("01 C3A9")), ClipboardMessage::text("e\xCC\x81"));
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(hexBytes("01 FF")); }), WireError::invalidString());
}

TEST(ClipboardMessage, TextLimitIsInclusive) {
    const std::string largest(ClipboardMessage::maxTextBytes, 'x');
    const auto bytes = ClipboardMessage::text(largest).encoded();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(ClipboardMessage::decoding(*bytes), ClipboardMessage::text(largest));

    EXPECT_FALSE(ClipboardMessage::text(largest + "x").encoded());
    // The size check comes before the text is looked at.
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(tagged(1, 1'000'001, 0xFF)); }),
              WireError::frameTooLarge(1'000'001));
}

TEST(ClipboardMessage, IllFormedTextIsSentRepaired) {
    const auto bytes = ClipboardMessage::text("a\xFF").encoded();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, hexBytes("01 61 EFBFBD"));
    EXPECT_NO_THROW(ClipboardMessage::decoding(*bytes));
}

TEST(ClipboardMessage, ImageLimitsAreInclusive) {
    EXPECT_EQ(ClipboardMessage::image(hexBytes("89504E47")).encoded(), hexBytes("02 89504E47"));

    const Bytes largest(ClipboardMessage::maxImageBytes, 0x5A);
    const auto bytes = ClipboardMessage::image(largest).encoded();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(ClipboardMessage::decoding(*bytes), ClipboardMessage::image(largest));

    EXPECT_FALSE(ClipboardMessage::image(Bytes(ClipboardMessage::maxImageBytes + 1)).encoded());
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(tagged(2, 3'000'001, 0)); }),
              WireError::frameTooLarge(3'000'001));
}

TEST(ClipboardMessage, RejectsEmptyImagesUnknownTagsAndEmptyPayloads) {
    EXPECT_FALSE(ClipboardMessage::image({}).encoded());
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(hexBytes("02")); }), WireError::truncated());
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding({}); }), WireError::truncated());
    EXPECT_EQ(thrownWireError([] { ClipboardMessage::decoding(hexBytes("03")); }), WireError::unknownType(3));
}

TEST(ClipboardMessage, ComparesByCaseAndContent) {
    EXPECT_NE(ClipboardMessage::text("a"), ClipboardMessage::image(hexBytes("61")));
    EXPECT_NE(ClipboardMessage::image(hexBytes("01")), ClipboardMessage::image(hexBytes("0100")));
}

} // namespace
} // namespace velm
