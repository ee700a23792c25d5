#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velm {

// Unsigned numbers in text from a peer (sizes, ports, status codes).
class Digits {
public:
    Digits() = delete;

    // The value of text made only of digits of the base (2 to 36, letters in either case), at
    // most maxDigits of them: no sign, space or prefix such as "0x". Nothing for anything else,
    // or for a value beyond 64 bits.
    static std::optional<std::uint64_t> parse(std::string_view text, int base, std::size_t maxDigits);
};

} // namespace velm
