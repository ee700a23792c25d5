#include "platform/x11/Edid.h"

#include <gtest/gtest.h>
#include <numeric>

namespace velm {
namespace {

// A base block with a vendor, a monitor name descriptor holding `name` and a right checksum.
Bytes block(const std::string& name) {
    Bytes bytes(Edid::blockSize, 0);
    const Bytes header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(header.begin(), header.end(), bytes.begin());
    bytes[8] = 0x10;
    bytes[9] = 0xAC;
    // The first descriptor is a timing (non-zero clock); the name is in the second.
    bytes[54] = 0x01;
    bytes[72 + 3] = 0xFC;
    for (std::size_t index = 0; index < 13; ++index) {
        bytes[72 + 5 + index] = index < name.size()    ? static_cast<std::uint8_t>(name[index])
                                : index == name.size() ? std::uint8_t('\n')
                                                       : std::uint8_t(' ');
    }
    bytes[127] = static_cast<std::uint8_t>(256 - std::accumulate(bytes.begin(), bytes.end() - 1, 0u) % 256);
    return bytes;
}

TEST(Edid, ReadsTheVendorAndTheMonitorName) {
    const auto edid = Edid::parse(block("DELL U2720Q"));
    ASSERT_TRUE(edid);
    EXPECT_EQ(std::tuple(edid->vendor, edid->productName), std::tuple(0x10AC, "DELL U2720Q"));
}

TEST(Edid, KeepsOnlyPrintableTextAndToleratesNoName) {
    const auto odd = Edid::parse(block(std::string("\x01 Panel\x7F ")));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->productName, "Panel");

    Bytes unnamed = block("X");
    unnamed[72 + 3] = 0xFE;
    unnamed[127] = static_cast<std::uint8_t>(unnamed[127] - 2);
    const auto edid = Edid::parse(unnamed);
    ASSERT_TRUE(edid);
    EXPECT_EQ(edid->productName, "");
}

TEST(Edid, RefusesShortBadHeaderAndBadChecksumBlocks) {
    const Bytes good = block("Monitor");
    EXPECT_FALSE(Edid::parse(ByteView(good).first(Edid::blockSize - 1)));
    Bytes header = good;
    header[0] = 0x01;
    header[127] = static_cast<std::uint8_t>(header[127] - 1);
    EXPECT_FALSE(Edid::parse(header));
    Bytes checksum = good;
    checksum[20] ^= 0x01;
    EXPECT_FALSE(Edid::parse(checksum));
}

} // namespace
} // namespace velm
