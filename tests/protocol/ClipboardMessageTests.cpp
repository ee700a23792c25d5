#include "ProtocolTesting.h"
#include "protocol/ClipboardMessage.h"
#include "protocol/WireError.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

WireError decodingError(const Bytes& payload) {
    return thrownWireError([&] { ClipboardMessage::decoding(payload); });
}

TEST(ClipboardMessage, EncodesTheTagThenTheContentThatRunsToTheEndOfTheFrame) {
    EXPECT_EQ(ClipboardMessage::subscribe(true).encoded(), hexBytes("00 01"));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("00 07 FF")), ClipboardMessage::subscribe(true));
    EXPECT_EQ(decodingError(hexBytes("00")), WireError::truncated());

    EXPECT_EQ(ClipboardMessage::text("hi").encoded(), hexBytes("01 6869"));
    EXPECT_EQ(ClipboardMessage::text("a\xFF").encoded(), hexBytes("01 61 EFBFBD")); // sent repaired
    EXPECT_EQ(ClipboardMessage::image(hexBytes("89504E47")).encoded(), hexBytes("02 89504E47"));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("01")), ClipboardMessage::text(""));
    EXPECT_EQ(ClipboardMessage::decoding(hexBytes("01 C3A9")), ClipboardMessage::text("e\xCC\x81"));
}

TEST(ClipboardMessage, SizeLimitsAreInclusiveAndCheckedBeforeTheContent) {
    const std::string text(ClipboardMessage::maxTextBytes, 'x');
    const Bytes image(ClipboardMessage::maxImageBytes, 0x5A);
    for (const ClipboardMessage& largest : {ClipboardMessage::text(text), ClipboardMessage::image(image)}) {
        const auto bytes = largest.encoded();
        ASSERT_TRUE(bytes);
        EXPECT_EQ(ClipboardMessage::decoding(*bytes), largest);
    }
    EXPECT_FALSE(ClipboardMessage::text(text + "x").encoded());
    EXPECT_FALSE(ClipboardMessage::image(Bytes(ClipboardMessage::maxImageBytes + 1)).encoded());

    Bytes tooLong(1 + 1'000'001, 0xFF); // text that is not UTF-8 either
    tooLong[0] = 1;
    EXPECT_EQ(decodingError(tooLong), WireError::frameTooLarge(1'000'001));
    Bytes tooLarge(1 + 3'000'001, 0);
    tooLarge[0] = 2;
    EXPECT_EQ(decodingError(tooLarge), WireError::frameTooLarge(3'000'001));
}

TEST(ClipboardMessage, RejectsBadTextEmptyImagesUnknownTagsAndEmptyPayloads) {
    EXPECT_FALSE(ClipboardMessage::image({}).encoded());
    EXPECT_EQ(decodingError(hexBytes("01 FF")), WireError::invalidString());
    EXPECT_EQ(decodingError(hexBytes("02")), WireError::truncated());
    EXPECT_EQ(decodingError({}), WireError::truncated());
    EXPECT_EQ(decodingError(hexBytes("03")), WireError::unknownType(3));
}

} // namespace
} // namespace velm
