#include "transport/channel/VelmService.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace velm {
namespace {

// The smallest draw mapping to 7 is in the biased stretch and drawn again; the next one up is kept.
constexpr std::uint64_t biasedSeven = 129'127'208'515'967;
constexpr std::uint64_t seven = biasedSeven + 1;
constexpr std::uint64_t highest = std::numeric_limits<std::uint64_t>::max();

TEST(VelmServiceTest, CodesAreSixDigitsAndDrawsInTheBiasedStretchAreDrawnAgain) {
    const struct {
        std::vector<std::uint64_t> draws;
        std::string code;
    } cases[] = {
        {{seven}, "000007"},
        {{highest}, "999999"},
        {{0, seven}, "000007"},
        {{biasedSeven, highest}, "999999"},
    };
    for (const auto& test : cases) {
        std::size_t taken = 0;
        EXPECT_EQ(VelmService::newCode([&] { return test.draws.at(taken++); }), test.code);
        EXPECT_EQ(taken, test.draws.size()) << test.code;
    }
}

TEST(VelmServiceTest, RandomCodesAreAlwaysSixDigits) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::string code = VelmService::newCode();
        const auto isDigit = [](unsigned char c) { return std::isdigit(c) != 0; };
        ASSERT_TRUE(code.size() == 6 && std::all_of(code.begin(), code.end(), isDigit)) << code;
    }
}

TEST(VelmServiceTest, DisplayFormSplitsOnlySixCharacters) {
    EXPECT_EQ(VelmService::displayCode("123456"), "123 456");
    EXPECT_EQ(VelmService::displayCode("12345"), "12345");
    EXPECT_EQ(VelmService::displayCode("1234567"), "1234567");
    // Characters, not bytes: the split never cuts a multi-byte character in two.
    EXPECT_EQ(VelmService::displayCode("12345\xC3\xA9"), "123 45\xC3\xA9");
    EXPECT_EQ(VelmService::displayCode("\xC3\xA9\xC3\xA9\xC3\xA9"), "\xC3\xA9\xC3\xA9\xC3\xA9");
}

// The video socket takes any free port, marks what it sends as interactive video, and lets a second
// socket of the same kind share its port.
TEST(VelmServiceTest, VideoSocketsTakeAnyPortAndShareIt) {
    const UdpSocket::Binding parameters = VelmService::udpParameters();
    EXPECT_EQ(parameters.port, std::nullopt);
    EXPECT_TRUE(parameters.interactiveVideo);
    EXPECT_TRUE(parameters.bothFamilies);
    const auto first = UdpSocket::bound(parameters);
    ASSERT_TRUE(first);
    UdpSocket::Binding same = parameters;
    same.port = first->localAddress()->port;
    EXPECT_TRUE(UdpSocket::bound(same));
}

// With no paired devices the listener still needs a key: one that no device can have.
TEST(VelmServiceTest, NoDevicesMeansAnIdentityNobodyCanHave) {
    EXPECT_EQ(VelmService::tlsParameters(std::vector<PreSharedKey>{}).keys()[0].identity, "velm-nobody");
}

} // namespace
} // namespace velm
