#pragma once

#include "protocol/Modifier.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace velm {

// Fixed tables between USB HID keyboard usages (page 7), the key codes the
// host's key injection speaks, modifiers, and the characters a client types.
// The tables are constant, so any thread may read them.
class KeyMap {
public:
    KeyMap() = delete;

    // Named usages the client sends for its special keys.
    struct HID {
        static constexpr std::uint16_t returnKey = 40;
        static constexpr std::uint16_t escape = 41;
        static constexpr std::uint16_t deleteBackward = 42;
        static constexpr std::uint16_t tab = 43;
        static constexpr std::uint16_t space = 44;
        static constexpr std::uint16_t f1 = 58;
        static constexpr std::uint16_t deleteForward = 76;
        static constexpr std::uint16_t rightArrow = 79;
        static constexpr std::uint16_t leftArrow = 80;
        static constexpr std::uint16_t downArrow = 81;
        static constexpr std::uint16_t upArrow = 82;
    };

    struct CharacterUsage {
        std::uint16_t usage;
        bool shift;
        friend bool operator==(const CharacterUsage&, const CharacterUsage&) = default;
    };

    // The key code of a usage, for the 117 usages that have one.
    static std::optional<std::uint16_t> keyCodeForUsage(std::uint16_t usage);
    // The modifier of the eight modifier-key usages (224 to 231).
    static std::optional<Modifier> modifierForUsage(std::uint16_t usage);
    static std::uint16_t keyCodeForModifier(Modifier modifier);

    // The usage, and whether shift is held, that types one character (UTF-8,
    // compared under canonical equivalence). Only unshifted keys and shifted
    // letters and digits are known.
    static std::optional<CharacterUsage> usageForCharacter(std::string_view character);
    // The function key (F1 to F12) that the characters "1234567890-=" stand for.
    static std::optional<std::uint16_t> functionKeyUsageForCharacter(std::string_view character);
    // The usage a key gives while the function modifier is held, when it differs.
    static std::optional<std::uint16_t> functionLayerUsage(std::uint16_t usage);
};

} // namespace velm
