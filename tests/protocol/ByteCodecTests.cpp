#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include "HexBytes.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "platform/core/Utf8.h"

namespace velm {
namespace {

using test::hexBytes;
using test::thrownWireError;

TEST(ByteCodec, IntegersAndFloatsTravelBigEndianAtTheirWidthAndReadBack) {
    ByteWriter writer;
    writer.writeUInt8(0xAB);
    writer.writeInteger<std::uint16_t>(0x1234);
    writer.writeInteger<std::uint32_t>(0xDEADBEEF);
    writer.writeInteger<std::uint64_t>(1);
    writer.writeInteger<std::int16_t>(-2);
    writer.writeFloat32(1.0f);
    writer.writeFloat32(std::bit_cast<float>(0x7FC01234u)); // NaN with a payload
    writer.writeBytes(hexBytes("0102"));
    EXPECT_EQ(writer.data(), hexBytes("AB 1234 DEADBEEF 0000000000000001 FFFE 3F800000 7FC01234 0102"));

    ByteReader reader(writer.data());
    EXPECT_EQ(reader.readUInt8(), 0xAB);
    EXPECT_EQ(reader.readUInt16(), 0x1234);
    EXPECT_EQ(reader.readUInt32(), 0xDEADBEEFu);
    EXPECT_EQ(reader.readInteger<std::uint64_t>(), 1u);
    EXPECT_EQ(reader.readInteger<std::int16_t>(), -2);
    EXPECT_EQ(reader.readFloat32(), 1.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(reader.readFloat32()), 0x7FC01234u);
    EXPECT_EQ(reader.readBytes(1), hexBytes("01"));
    EXPECT_EQ(reader.readRemaining(), hexBytes("02"));
}

TEST(ByteWriter, WritesStringsWithTheirByteCountAndCutsLongAsciiAtTheLimit) {
    ByteWriter writer;
    writer.writeString("");
    writer.writeString("h\xC3\xA9");
    writer.writeString(std::string(70000, 'x'));
    ASSERT_EQ(writer.data().size(), 2u + 5u + 2u + 65535u);
    EXPECT_EQ(Bytes(writer.data().begin(), writer.data().begin() + 9), hexBytes("0000 0003 68C3A9 FFFF"));
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
    const struct {
        const char* bytes;
        WireError error;
        std::size_t offset;
    } cases[] = {{"0005 4142", WireError::truncated(), 2},
                 {"00", WireError::truncated(), 0},
                 {"0002 C328 99", WireError::invalidString(), 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const Bytes bytes = hexBytes(c.bytes);
        ByteReader reader(bytes);
        EXPECT_EQ(thrownWireError([&] { reader.readString(); }), c.error);
        EXPECT_EQ(reader.offset(), c.offset);
    }
}

TEST(ByteReader, StartsAtTheFirstByteOfASlice) {
    const Bytes whole = hexBytes("FFFF 0001 41 FF");
    ByteReader reader(ByteView(whole).subspan(2, 3));
    EXPECT_EQ(reader.readString(), "A");
    EXPECT_EQ(thrownWireError([&] { reader.readUInt8(); }), WireError::truncated());
}

// The general cases live with the platform's text tests; these are the edges of each lead byte's range.
TEST(Utf8, AcceptsOnlyWellFormedSequencesAtTheRangeEdges) {
    for (const char* good : {"\xE0\xA0\x80", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(Utf8::isValid(std::string_view(good))) << good;
    }
    for (const char* bad : {"\xC1\xBF", "\xE0\x9F\x80", "\xF0\x8F\xBF\xBF"}) {
        EXPECT_FALSE(Utf8::isValid(std::string_view(bad))) << bad;
    }
}

} // namespace
} // namespace velm
