#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "HexBytes.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "platform/core/Utf8.h"

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

TEST(ByteWriter, WritesIntegersBigEndianAtTheirWidth) {
    ByteWriter writer;
    writer.writeUInt8(0xAB);
    writer.writeInteger<std::uint16_t>(0x1234);
    writer.writeInteger<std::uint32_t>(0xDEADBEEF);
    writer.writeInteger<std::uint64_t>(1);
    writer.writeInteger<std::int16_t>(-2);
    writer.writeInteger<std::int64_t>(-1);
    EXPECT_EQ(writer.data(), hexBytes("AB 1234 DEADBEEF 0000000000000001 FFFE FFFFFFFFFFFFFFFF"));
}

TEST(ByteWriter, WritesFloatBitPatternsUnchanged) {
    ByteWriter writer;
    writer.writeFloat32(1.0f);
    writer.writeFloat32(-0.0f);
    writer.writeFloat32(-std::numeric_limits<float>::infinity());
    writer.writeFloat32(std::bit_cast<float>(0x7FC01234u)); // NaN with a payload
    EXPECT_EQ(writer.data(), hexBytes("3F800000 80000000 FF800000 7FC01234"));

    ByteReader reader(writer.data());
    EXPECT_EQ(reader.readFloat32(), 1.0f);
    EXPECT_TRUE(std::signbit(reader.readFloat32()));
    EXPECT_EQ(reader.readFloat32(), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(std::bit_cast<std::uint32_t>(reader.readFloat32()), 0x7FC01234u);
}

TEST(ByteWriter, WritesStringsWithTheirByteCountAndCutsLongAsciiAtTheLimit) {
    ByteWriter writer;
    writer.writeString("");
    writer.writeString("h\xC3\xA9");
    writer.writeBytes(hexBytes("0102"));
    EXPECT_EQ(writer.data(), hexBytes("0000 0003 68C3A9 0102"));

    ByteWriter longWriter;
    longWriter.writeString(std::string(70000, 'x'));
    ASSERT_EQ(longWriter.data().size(), 2u + 65535u);
    EXPECT_EQ(longWriter.data()[0], 0xFF);
}

TEST(ByteWriter, CutsLongTextOnACharacterBoundarySoItReadsBack) {
    std::string twoByte;
    std::string fourByte = "a";
    for (int i = 0; i < 32768; ++i) {
        twoByte += "\xC3\xA9"; // 65,536 bytes: byte 65,535 is the start of a character
        fourByte += "\xF0\x9F\x98\x80"; // the cut falls inside the last fitting emoji
    }
    for (const std::string& text : {twoByte, fourByte}) {
        ByteWriter writer;
        writer.writeString(text);
        ByteReader reader(writer.data());
        const std::string back = reader.readString();
        EXPECT_LE(back.size(), 65535u);
        EXPECT_GT(back.size(), 65535u - 4);
        EXPECT_EQ(back, text.substr(0, back.size()));
        EXPECT_EQ(reader.remaining(), 0u);
    }
}

TEST(ByteWriter, RepairsIllFormedTextSoItReadsBack) {
    ByteWriter writer;
    writer.writeString("a\xFF" "b\xE2\x82");
    ByteReader reader(writer.data());
    EXPECT_EQ(reader.readString(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(ByteReader, ReadsBigEndianIntegersAndTheRest) {
    const Bytes bytes = hexBytes("07 BEEF 01020304 FFFFFFFB 0102030405060708 AABB");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.readUInt8(), 7);
    EXPECT_EQ(reader.readUInt16(), 0xBEEF);
    EXPECT_EQ(reader.readUInt32(), 0x01020304u);
    EXPECT_EQ(reader.readInteger<std::int32_t>(), -5);
    EXPECT_EQ(reader.readInteger<std::uint64_t>(), 0x0102030405060708u);
    EXPECT_EQ(reader.readBytes(1), hexBytes("AA"));
    EXPECT_EQ(reader.readRemaining(), hexBytes("BB"));
    EXPECT_EQ(reader.remaining(), 0u);
}

TEST(ByteReader, ShortReadsThrowWithoutMoving) {
    const Bytes empty;
    ByteReader none(empty);
    EXPECT_EQ(thrownWireError([&] { none.readUInt8(); }), WireError::truncated());
    EXPECT_TRUE(none.readRemaining().empty());

    const Bytes three = hexBytes("010203");
    ByteReader reader(three);
    EXPECT_EQ(thrownWireError([&] { reader.readUInt32(); }), WireError::truncated());
    EXPECT_EQ(reader.offset(), 0u);
    EXPECT_EQ(reader.readUInt16(), 0x0102);
    EXPECT_EQ(thrownWireError([&] { reader.readBytes(2); }), WireError::truncated());
    EXPECT_EQ(thrownWireError([&] { reader.readBytes(-1); }), WireError::truncated());
    EXPECT_TRUE(reader.readBytes(0).empty());
    EXPECT_EQ(reader.offset(), 2u);
}

TEST(ByteReader, StringFailuresLeaveTheDocumentedOffset) {
    const Bytes shortBody = hexBytes("0005 4142");
    ByteReader shortReader(shortBody);
    EXPECT_EQ(thrownWireError([&] { shortReader.readString(); }), WireError::truncated());
    EXPECT_EQ(shortReader.offset(), 2u);

    const Bytes shortCount = hexBytes("00");
    ByteReader countReader(shortCount);
    EXPECT_EQ(thrownWireError([&] { countReader.readString(); }), WireError::truncated());
    EXPECT_EQ(countReader.offset(), 0u);

    const Bytes badBody = hexBytes("0002 C328 99");
    ByteReader badReader(badBody);
    EXPECT_EQ(thrownWireError([&] { badReader.readString(); }), WireError::invalidString());
    EXPECT_EQ(badReader.offset(), 4u);
}

TEST(ByteReader, StartsAtTheFirstByteOfASlice) {
    const Bytes whole = hexBytes("FFFF 0001 41 FF");
    ByteReader reader(ByteView(whole).subspan(2, 3));
    EXPECT_EQ(reader.readString(), "A");
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_EQ(thrownWireError([&] { reader.readUInt8(); }), WireError::truncated());
}

TEST(Utf8, AcceptsOnlyWellFormedSequences) {
    for (const char* good : {"", "\xC2\x80", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(Utf8::isValid(std::string_view(good))) << good;
    }
    for (const char* bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xC3", "\xE0\x9F\x80", "\xED\xA0\x80",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "a\xE2\x82"}) {
        EXPECT_FALSE(Utf8::isValid(std::string_view(bad))) << bad;
    }
}

TEST(Utf8, RepairsEachMaximalSubpartOnce) {
    // A truncated three-byte sequence is one replacement; a stray continuation byte is one each.
    EXPECT_EQ(Utf8::repaired("\xE2\x82" "a\x80\x80"), "\xEF\xBF\xBD" "a\xEF\xBF\xBD\xEF\xBF\xBD");
    // A surrogate lead stops after its first byte, so its tail is two more replacements.
    EXPECT_EQ(Utf8::repaired("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Utf8::repaired("ok \xC3\xA9"), "ok \xC3\xA9");
}

TEST(Utf8, CutsBeforeAnUnfinishedCharacter) {
    EXPECT_EQ(Utf8::cutLength("a\xC3\xA9", 2), 1u);
    EXPECT_EQ(Utf8::cutLength("a\xC3\xA9", 3), 3u);
    EXPECT_EQ(Utf8::cutLength("\xF0\x9F\x98\x80" "b", 3), 0u);
}

} // namespace
} // namespace velm
