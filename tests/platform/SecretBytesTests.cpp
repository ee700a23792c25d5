#include "platform/crypto/ConstantTime.h"
#include "platform/crypto/Random.h"
#include "platform/crypto/SecretBytes.h"

#include <gtest/gtest.h>
#include <set>

namespace velm {
namespace {

TEST(SecretBytesTest, CopiesAreIndependentAndMovesLeaveNothingBehind) {
    const Bytes raw{1, 2, 3, 4};
    SecretBytes original(raw);
    SecretBytes copy = original;
    EXPECT_EQ(copy, original);
    copy.data()[0] = 9;
    EXPECT_NE(copy, original);

    SecretBytes moved = std::move(original);
    EXPECT_TRUE(original.empty()); // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_EQ(Bytes(moved.view().begin(), moved.view().end()), raw);

    copy = std::move(moved);
    EXPECT_TRUE(moved.empty()); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(copy.size(), 4u);
}

TEST(SecretBytesTest, EqualityNeedsSameLengthAndContent) {
    EXPECT_EQ(SecretBytes(Bytes{}), SecretBytes());
    EXPECT_NE(SecretBytes(Bytes{1, 2}), SecretBytes(Bytes{1, 2, 0}));
    EXPECT_FALSE(constantTimeEqual(Bytes{1}, Bytes{}));
    EXPECT_TRUE(constantTimeEqual(Bytes{}, Bytes{}));
    EXPECT_EQ(SecretBytes(std::size_t{3}), SecretBytes(Bytes{0, 0, 0}));
}

TEST(RandomTest, GivesTheCountAskedForAndDoesNotRepeat) {
    EXPECT_EQ(std::pair(Random::bytes(33).size(), Random::secret(32).size()), std::pair(33ul, 32ul));
    std::set<Bytes> draws;
    for (int index = 0; index < 16; ++index) {
        draws.insert(Random::bytes(16));
    }
    EXPECT_EQ(draws.size(), 16u);
    EXPECT_NE(Random::uint64(), Random::uint64());
}

} // namespace
} // namespace velm
