#include "platform/core/Digits.h"

#include <charconv>
#include <system_error>

namespace velm {

std::optional<std::uint64_t> Digits::parse(std::string_view text, int base, std::size_t maxDigits) {
    if (text.size() > maxDigits) {
        return std::nullopt;
    }
    // For an unsigned type from_chars takes neither sign nor white space nor prefix, and fails on
    // empty text and on overflow.
    std::uint64_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace velm
