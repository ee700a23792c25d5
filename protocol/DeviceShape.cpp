#include "protocol/DeviceShape.h"

#include "protocol/IpadModels.h"
#include "protocol/UnicodeText.h"

#include <cstdint>
#include <limits>

namespace velm {
namespace {

constexpr std::string_view ipadPrefix = "iPad";

// Decodes the code point at `at` and moves past it; nothing for an ill-formed sequence.
std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) {
        return std::nullopt;
    }
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return std::nullopt;
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    at += length;
    return value;
}

// A major version below 8 means a home button. The major version is the leading run of numeric
// characters after "iPad"; a run that is not a plain decimal integer (other scripts' digits,
// fractions, too many digits) gives no answer.
bool majorVersionBelowEight(std::string_view identifier) {
    const std::string_view rest = identifier.substr(ipadPrefix.size());
    std::size_t at = 0;
    std::size_t runEnd = 0;
    while (at < rest.size()) {
        const auto codePoint = nextCodePoint(rest, at);
        if (!codePoint || !UnicodeText::isNumeric(*codePoint)) {
            break;
        }
        runEnd = at;
    }
    const std::string_view run = rest.substr(0, runEnd);
    if (run.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (const char c : run) {
        if (c < '0' || c > '9') {
            return false;
        }
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value < 8;
}

bool hasHomeButton(std::string_view identifier) {
    return majorVersionBelowEight(identifier) || IpadModels::isInHomeButtonSet(identifier);
}

} // namespace

DeviceShape deviceShape(std::string_view identifier, const std::optional<std::string>& name) {
    const std::string_view text = name ? std::string_view(*name) : std::string_view();
    const auto named = [&](std::string_view part) { return text.find(part) != std::string_view::npos; };

    if (named("MacBook") || identifier.starts_with("MacBook"))
        return DeviceShape::macBook;
    if (named("iMac") || identifier.starts_with("iMac"))
        return DeviceShape::iMac;
    if (named("Mac mini") || identifier.starts_with("Macmini"))
        return DeviceShape::macMini;
    if (named("Mac Studio"))
        return DeviceShape::macStudio;
    if (named("Mac Pro") || identifier.starts_with("MacPro"))
        return DeviceShape::macPro;
    if (identifier.starts_with("iPhone") || identifier.starts_with("iPod"))
        return DeviceShape::iPhone;
    if (!identifier.starts_with(ipadPrefix))
        return DeviceShape::display;
    if (IpadModels::isProfessional(identifier))
        return DeviceShape::iPadPro;
    if (hasHomeButton(identifier))
        return DeviceShape::iPadHomeButton;
    return DeviceShape::iPad;
}

} // namespace velm
