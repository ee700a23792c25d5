#include "protocol/KeyMap.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>

namespace velm {
namespace {

using Usage = KeyMap::CharacterUsage;

TEST(KeyMap, KeyCodesMatchTheTable) {
    int known = 0;
    for (int usage = 0; usage <= 0xFFFF; ++usage) {
        known += KeyMap::keyCodeForUsage(static_cast<std::uint16_t>(usage)).has_value();
    }
    EXPECT_EQ(known, 117);

    // The ends of each run, and usages that share a key code.
    const std::pair<std::uint16_t, std::uint16_t> samples[] = {
        {4, 0}, {29, 6}, {49, 42}, {50, 42}, {70, 105}, {104, 105}, {129, 73}, {231, 54},
    };
    for (const auto& [usage, code] : samples) {
        EXPECT_EQ(KeyMap::keyCodeForUsage(usage), code) << "usage " << usage;
    }
    for (const std::uint16_t usage :
         std::to_array<std::uint16_t>({0, 3, 101, 102, 112, 126, 130, 223, 232, 0xFFFF})) {
        EXPECT_FALSE(KeyMap::keyCodeForUsage(usage)) << "usage " << usage;
    }
}

TEST(KeyMap, ModifiersAndFunctionKeys) {
    EXPECT_EQ(KeyMap::modifierForUsage(224), Modifier::control);
    EXPECT_EQ(KeyMap::modifierForUsage(231), Modifier::command);
    EXPECT_FALSE(KeyMap::modifierForUsage(57)); // caps lock is a key here, not a modifier
    EXPECT_EQ(KeyMap::keyCodeForModifier(Modifier::capsLock), 57);

    EXPECT_EQ(KeyMap::functionKeyUsageForCharacter("0"), 67);
    EXPECT_EQ(KeyMap::functionKeyUsageForCharacter("="), 69);
    EXPECT_FALSE(KeyMap::functionKeyUsageForCharacter("a"));

    EXPECT_EQ(KeyMap::functionLayerUsage(42), 76);
    EXPECT_FALSE(KeyMap::functionLayerUsage(40));
}

TEST(KeyMap, CharactersToUsagesUnderCanonicalEquivalence) {
    EXPECT_EQ(KeyMap::usageForCharacter("a"), (Usage{4, false}));
    EXPECT_EQ(KeyMap::usageForCharacter("A"), (Usage{4, true}));
    EXPECT_EQ(KeyMap::usageForCharacter(")"), (Usage{39, true}));
    EXPECT_EQ(KeyMap::usageForCharacter("\n"), (Usage{40, false}));
    for (const char* unknown : {"_", "+", "{", "|", ":", "\"", "~", "<", "?", "", "ab", "\xC3\xA9", "\r\n"}) {
        EXPECT_FALSE(KeyMap::usageForCharacter(unknown)) << unknown;
    }
    EXPECT_EQ(KeyMap::usageForCharacter("\xE2\x84\xAA"), (Usage{14, true})); // KELVIN SIGN is K
    EXPECT_EQ(KeyMap::usageForCharacter("\xCD\xBE"), (Usage{51, false}));    // GREEK QUESTION MARK is ;
    EXPECT_FALSE(KeyMap::usageForCharacter("e\xCC\x81"));                    // e with a combining acute
}

} // namespace
} // namespace velm
