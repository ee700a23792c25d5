#include "protocol/KeyMap.h"

#include "protocol/UnicodeText.h"

#include <array>
#include <cstddef>
#include <string>

namespace velm {
namespace {

constexpr std::uint16_t none = 0xFFFF;
constexpr std::size_t usageCount = 232;

struct UsageRun {
    std::uint16_t firstUsage;
    std::initializer_list<std::uint16_t> keyCodes;
};

constexpr std::array<std::uint16_t, usageCount> makeKeyCodes() {
    const UsageRun runs[] = {
        {4, {0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12, 15, 1, 17, 32, 9, 13, 7, 16, 6}},
        {30, {18, 19, 20, 21, 23, 22, 26, 28, 25, 29}},
        {40, {36, 53, 51, 48, 49, 27, 24, 33, 30, 42, 42, 41, 39, 50, 43, 47, 44, 57}},
        {58, {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111}},
        {70, {105, 107, 113, 114, 115, 116, 117, 119, 121, 124, 123, 125, 126}},
        {83, {71, 75, 67, 78, 69, 76, 83, 84, 85, 86, 87, 88, 89, 91, 92, 82, 65}},
        {100, {10}},
        {103, {81}},
        {104, {105, 107, 113, 106, 64, 79, 80, 90}},
        {127, {74, 72, 73}},
        {224, {59, 56, 58, 55, 62, 60, 61, 54}},
    };
    std::array<std::uint16_t, usageCount> table{};
    table.fill(none);
    for (const UsageRun& run : runs) {
        std::uint16_t usage = run.firstUsage;
        for (std::uint16_t code : run.keyCodes) {
            table[usage++] = code;
        }
    }
    return table;
}

constexpr std::array<std::uint16_t, usageCount> keyCodes = makeKeyCodes();

// Characters typed by the usages 4 to 39 without and with shift, and then the
// other unshifted characters with their usages.
constexpr std::string_view plainCharacters = "abcdefghijklmnopqrstuvwxyz1234567890";
constexpr std::string_view shiftedCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ!@#$%^&*()";
constexpr std::string_view plainSymbols = "\n\t -=[]\\;'`,./";
constexpr std::array<std::uint16_t, 14> plainSymbolUsages{40, 43, 44, 45, 46, 47, 48,
                                                          49, 51, 52, 53, 54, 55, 56};
constexpr std::string_view functionKeyCharacters = "1234567890-=";

// The single ASCII byte a character is canonically equivalent to, if any.
std::optional<char> asciiCharacter(std::string_view character) {
    if (character.size() == 1 && static_cast<unsigned char>(character[0]) < 0x80) {
        return character[0];
    }
    const std::string composed = UnicodeText::composed(character);
    if (composed.size() == 1 && static_cast<unsigned char>(composed[0]) < 0x80) {
        return composed[0];
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint16_t> KeyMap::keyCodeForUsage(std::uint16_t usage) {
    if (usage >= usageCount || keyCodes[usage] == none) {
        return std::nullopt;
    }
    return keyCodes[usage];
}

std::optional<Modifier> KeyMap::modifierForUsage(std::uint16_t usage) {
    switch (usage) {
    case 224:
    case 228:
        return Modifier::control;
    case 225:
    case 229:
        return Modifier::shift;
    case 226:
    case 230:
        return Modifier::option;
    case 227:
    case 231:
        return Modifier::command;
    default:
        return std::nullopt;
    }
}

std::uint16_t KeyMap::keyCodeForModifier(Modifier modifier) {
    switch (modifier) {
    case Modifier::command:
        return 55;
    case Modifier::option:
        return 58;
    case Modifier::control:
        return 59;
    case Modifier::shift:
        return 56;
    case Modifier::function:
        return 63;
    case Modifier::capsLock:
        return 57;
    }
    return 55;
}

std::optional<KeyMap::CharacterUsage> KeyMap::usageForCharacter(std::string_view character) {
    const auto ascii = asciiCharacter(character);
    if (!ascii) {
        return std::nullopt;
    }
    if (auto at = plainCharacters.find(*ascii); at != std::string_view::npos) {
        return CharacterUsage{static_cast<std::uint16_t>(4 + at), false};
    }
    if (auto at = plainSymbols.find(*ascii); at != std::string_view::npos) {
        return CharacterUsage{plainSymbolUsages[at], false};
    }
    if (auto at = shiftedCharacters.find(*ascii); at != std::string_view::npos) {
        return CharacterUsage{static_cast<std::uint16_t>(4 + at), true};
    }
    return std::nullopt;
}

std::optional<std::uint16_t> KeyMap::functionKeyUsageForCharacter(std::string_view character) {
    const auto ascii = asciiCharacter(character);
    if (!ascii) {
        return std::nullopt;
    }
    if (auto at = functionKeyCharacters.find(*ascii); at != std::string_view::npos) {
        return static_cast<std::uint16_t>(58 + at);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> KeyMap::functionLayerUsage(std::uint16_t usage) {
    if (usage >= 30 && usage <= 39) {
        return static_cast<std::uint16_t>(58 + (usage - 30));
    }
    switch (usage) {
    case 45:
        return 68;
    case 46:
        return 69;
    case 42:
        return 76;
    case 79:
        return 77;
    case 80:
        return 74;
    case 81:
        return 78;
    case 82:
        return 75;
    default:
        return std::nullopt;
    }
}

} // namespace velm
