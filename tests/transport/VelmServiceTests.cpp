#include "transport/VelmService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

namespace velm {
namespace {

// Hands out the given 64-bit draws in order and counts how many were taken.
class Draws {
public:
    explicit Draws(std::vector<std::uint64_t> values) : values_(std::move(values)) {}

    std::function<std::uint64_t()> source() {
        return [this] { return values_.at(taken_++); };
    }
    std::size_t taken() const { return taken_; }

private:
    std::vector<std::uint64_t> values_;
    std::size_t taken_ = 0;
};

// The smallest draw that maps to 7 falls in the biased stretch and is drawn again;
// the next one up maps to 7 as well and is kept.
constexpr std::uint64_t biasedSeven = 129'127'208'515'967;
constexpr std::uint64_t seven = biasedSeven + 1;

TEST(VelmServiceTest, CodesAreSixDigitsWithLeadingZeros) {
    Draws draws({seven});
    EXPECT_EQ(VelmService::newCode(draws.source()), "000007");

    Draws highest({std::numeric_limits<std::uint64_t>::max()});
    EXPECT_EQ(VelmService::newCode(highest.source()), "999999");
}

TEST(VelmServiceTest, DrawsInTheBiasedStretchAreDrawnAgain) {
    Draws fromZero({0, seven});
    EXPECT_EQ(VelmService::newCode(fromZero.source()), "000007");
    EXPECT_EQ(fromZero.taken(), 2u);

    Draws fromBiased({biasedSeven, std::numeric_limits<std::uint64_t>::max()});
    EXPECT_EQ(VelmService::newCode(fromBiased.source()), "999999");
    EXPECT_EQ(fromBiased.taken(), 2u);
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

TEST(VelmServiceTest, TlsParametersForPairingAndForNoDevices) {
    const TlsParameters pairing = VelmService::tlsParameters("000042");
    ASSERT_EQ(pairing.keys().size(), 1u);
    EXPECT_EQ(pairing.keys()[0].identity, "velm-psk-v1");
    EXPECT_EQ(pairing.keys()[0].secret, PreSharedKey::fromSecret("000042").key());

    EXPECT_EQ(VelmService::tlsParameters(std::vector<PreSharedKey>{}).keys()[0].identity, "velm-nobody");
}

} // namespace
} // namespace velm
