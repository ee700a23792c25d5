#include "ProtocolTesting.h"
#include "protocol/InputEvent.h"
#include "protocol/WireError.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

std::vector<InputEvent> oneOfEach() {
    return {InputEvent::pointerMove(0.25f, -1.5f),
            InputEvent::pointerDown(PointerButton::left()),
            InputEvent::pointerUp(PointerButton::other(200)),
            InputEvent::scroll(-3.0f, 120.5f),
            InputEvent::keyDown(0xE1),
            InputEvent::keyUp(0xFFFF),
            InputEvent::modifierDown(Modifier::capsLock),
            InputEvent::modifierUp(Modifier::command),
            InputEvent::textInput("h\xC3\xA9llo \xF0\x9F\x98\x80"),
            InputEvent::tap(PointerButton::right(), 44.0f)};
}

TEST(PointerButton, MapsToAndFromItsWireByteAndHashesByCaseAndNumber) {
    // Other buttons numbered like the three named ones travel as 3.
    for (const std::uint8_t n : std::to_array<std::uint8_t>({0, 1, 2, 3})) {
        EXPECT_EQ(PointerButton::other(n).wireByte(), 3);
    }
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(PointerButton::fromWireByte(static_cast<std::uint8_t>(byte)).wireByte(), byte);
    }

    std::unordered_set<PointerButton> seen{PointerButton::left(), PointerButton::other(0),
                                           PointerButton::other(9)};
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_FALSE(seen.contains(PointerButton::right()));
}

TEST(InputEvent, TravelsAsTheDocumentedBytes) {
    EXPECT_EQ(InputEvent::pointerMove(0.5f, 1.0f).encoded(), hexBytes("01 3F000000 3F800000"));
    EXPECT_EQ(InputEvent::tap(PointerButton::left(), 20.0f).encoded(), hexBytes("0A 00 41A00000"));
    EXPECT_EQ(InputEvent::pointerDown(PointerButton::other(7)).encoded(), hexBytes("02 07"));
    EXPECT_EQ(InputEvent::pointerDown(PointerButton::other(1)).encoded(), hexBytes("02 03"));
    EXPECT_EQ(InputEvent::keyDown(4).encoded(), hexBytes("05 0004"));
    EXPECT_EQ(InputEvent::modifierDown(Modifier::shift).encoded(), hexBytes("07 03"));
    EXPECT_EQ(InputEvent::textInput("").encoded(), hexBytes("09 0000"));
    EXPECT_EQ(InputEvent::textInput("ab").encoded(), hexBytes("09 0002 6162"));

    EXPECT_EQ(InputEvent::decoding(hexBytes("02 03")), InputEvent::pointerDown(PointerButton::other(3)));
    EXPECT_EQ(InputEvent::decoding(hexBytes("03 01 FFFF")), InputEvent::pointerUp(PointerButton::right()));
}

TEST(InputEvent, EveryCaseRoundTripsAndEveryShorterPrefixIsTruncated) {
    for (const InputEvent& event : oneOfEach()) {
        const Bytes bytes = event.encoded();
        SCOPED_TRACE(testing::Message() << "tag " << int(bytes[0]));
        EXPECT_EQ(InputEvent::decoding(bytes), event);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const ByteView prefix(bytes.data(), length);
            EXPECT_EQ(thrownWireError([&] { InputEvent::decoding(prefix); }), WireError::truncated())
                << "length " << length;
        }
    }
}

TEST(InputEvent, RejectsUnknownTagsAndModifiersAndBadText) {
    EXPECT_EQ(thrownWireError([] { InputEvent::decoding(hexBytes("00")); }), WireError::unknownType(0));
    EXPECT_EQ(thrownWireError([] { InputEvent::decoding(hexBytes("0B")); }), WireError::unknownType(11));
    EXPECT_EQ(thrownWireError([] { InputEvent::decoding(hexBytes("07 06")); }), WireError::unknownType(6));
    EXPECT_EQ(thrownWireError([] { InputEvent::decoding(hexBytes("08 FF")); }), WireError::unknownType(255));
    EXPECT_EQ(thrownWireError([] { InputEvent::decoding(hexBytes("09 0003 EDA080")); }),
              WireError::invalidString());
}

TEST(InputEvent, AnyShortInputDecodesOrThrowsAWireError) {
    // Every payload of up to two bytes, and every tag with three more bytes of one pattern.
    std::vector<Bytes> inputs;
    for (int a = 0; a < 256; ++a) {
        inputs.push_back({static_cast<std::uint8_t>(a)});
        for (int b = 0; b < 256; ++b) {
            inputs.push_back({static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)});
            inputs.push_back({static_cast<std::uint8_t>(a), 0x00, static_cast<std::uint8_t>(b), 0xC3});
        }
    }
    for (const Bytes& input : inputs) {
        try {
            const InputEvent event = InputEvent::decoding(input);
            EXPECT_EQ(InputEvent::decoding(event.encoded()).encoded(), event.encoded());
        } catch (const WireError&) {
        }
    }
}

TEST(InputEvent, LongTextIsCutOnACharacterAndStillDelivered) {
    const std::string text = test::repeated("\xC3\xA9", 40000); // 80,000 bytes; 65,535 cuts an é
    EXPECT_EQ(InputEvent::decoding(InputEvent::textInput(text).encoded()),
              InputEvent::textInput(text.substr(0, 65534)));
}

TEST(InputEvent, ComparesFloatsAsNumbersAndTextsByCanonicalEquivalence) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(InputEvent::pointerMove(nan, 0), InputEvent::pointerMove(nan, 0));
    EXPECT_EQ(InputEvent::scroll(0.0f, 1.0f), InputEvent::scroll(-0.0f, 1.0f));
    EXPECT_EQ(InputEvent::textInput("caf\xC3\xA9"), InputEvent::textInput("cafe\xCC\x81"));
    EXPECT_NE(InputEvent::textInput("cafe"), InputEvent::textInput("caf\xC3\xA9"));
}

} // namespace
} // namespace velm
