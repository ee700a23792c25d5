#include "ProtocolTesting.h"
#include "platform/core/Utf8.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using test::hexBytes;
using test::repeated;
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

TEST(ByteWriter, WritesStringsWithTheirByteCountAndIllFormedTextRepairedSoItReadsBack) {
    ByteWriter writer;
    writer.writeString("");
    writer.writeString("h\xC3\xA9");
    writer.writeString("a\xFF"
                       "b\xE2\x82");
    EXPECT_EQ(writer.data(), hexBytes("0000 0003 68C3A9 0008 61EFBFBD 62EFBFBD"));
}

TEST(ByteWriter, CutsLongTextAtTheLimitOnACharacterBoundarySoItReadsBack) {
    const struct {
        std::string text;
        std::size_t kept;
    } cases[] = {
        {std::string(70000, 'x'), 65535},
        {repeated("\xC3\xA9", 32768), 65534},               // byte 65,535 would start a character
        {"a" + repeated("\xF0\x9F\x98\x80", 16384), 65533}, // the cut falls inside an emoji
    };
    for (const auto& c : cases) {
        ByteWriter writer;
        writer.writeString(c.text);
        ByteReader reader(writer.data());
        EXPECT_EQ(reader.readString(), c.text.substr(0, c.kept)) << c.kept;
        EXPECT_EQ(reader.remaining(), 0u);
    }
}

TEST(ByteReader, ShortReadsThrowWithoutMovingAndReadOnlyTheSlice) {
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
    const auto failure = [](const char* hex, std::size_t offsetAfter) {
        const Bytes bytes = hexBytes(hex);
        ByteReader reader(bytes);
        const WireError error = thrownWireError([&] { reader.readString(); });
        EXPECT_EQ(reader.offset(), offsetAfter) << hex;
        return error;
    };
    EXPECT_EQ(failure("0005 4142", 2), WireError::truncated());
    EXPECT_EQ(failure("00", 0), WireError::truncated());
    EXPECT_EQ(failure("0002 C328 99", 4), WireError::invalidString());

    // A reader over a slice starts at the slice's first byte.
    const Bytes whole = hexBytes("FFFF 0001 41 FF");
    ByteReader slice(ByteView(whole).subspan(2, 3));
    EXPECT_EQ(slice.readString(), "A");
    EXPECT_EQ(thrownWireError([&] { slice.readUInt8(); }), WireError::truncated());
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
