#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velm {

// Text comparisons with Unicode meaning, for values whose equality is that of
// user-visible text rather than of bytes.
class UnicodeText {
public:
    UnicodeText() = delete;

    // Whether two UTF-8 texts are canonically equivalent (a precomposed é equals
    // e followed by a combining acute). Text that is not valid UTF-8 is only
    // equal to the same bytes.
    static bool canonicallyEqual(std::string_view a, std::string_view b);

    // The text in normalisation form C; ill-formed input comes back unchanged.
    static std::string composed(std::string_view text);

    // Whether the code point has a numeric type (digits, numerals, fractions, in any script).
    static bool isNumeric(char32_t codePoint);
};

} // namespace velm
