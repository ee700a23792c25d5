#include "tests/support/TestVectors.h"
#include "transport/keys/PreSharedKey.h"

#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

using test::transportVector;

Bytes keyBytes(const PreSharedKey& key) {
    return Bytes(key.key().view().begin(), key.key().view().end());
}

TEST(PreSharedKeyTest, PairingCodeKeyMatchesIndependentDerivation) {
    const PreSharedKey key = PreSharedKey::fromSecret("123456");
    EXPECT_EQ(key.identity(), "velm-psk-v1");
    EXPECT_EQ(keyBytes(key), transportVector("psk_123456"));
    EXPECT_EQ(keyBytes(PreSharedKey::fromSecret("000042")), transportVector("psk_000042"));
    EXPECT_EQ(keyBytes(PreSharedKey::fromSecret("")), transportVector("psk_empty"));
}

TEST(PreSharedKeyTest, RefusesIdentifiersThatCannotBeTlsIdentities) {
    using Error = PreSharedKey::IdentityError;
    const Bytes deviceKey(32, 1);
    const struct {
        std::string identifier;
        Error error;
    } refused[] = {
        {"", Error::empty},
        {std::string(257, 'd'), Error::tooLong},
        {std::string("dev\0ice", 7), Error::containsNul},
        {"velm-psk-v1", Error::reserved},
        {"velm-away", Error::reserved},
        {"velm-nobody", Error::reserved},
    };
    for (const auto& test : refused) {
        EXPECT_EQ(PreSharedKey::identityError(test.identifier), test.error) << test.identifier;
        EXPECT_FALSE(PreSharedKey::forDevice(test.identifier, deviceKey).has_value()) << test.identifier;
    }
    EXPECT_FALSE(PreSharedKey::identityError(std::string(256, 'd')).has_value());
    EXPECT_TRUE(PreSharedKey::forDevice(std::string(256, 'd'), deviceKey).has_value());
    EXPECT_TRUE(PreSharedKey::forDevice("velm-away-2", deviceKey).has_value());
}

} // namespace
} // namespace velm
