#pragma once

#include <cstdint>
#include <string_view>

namespace velm {

// The few Unicode text rules the wire vocabulary needs.
class Unicode {
public:
    // Whether two UTF-8 texts are canonically equivalent: the same text in composed and
    // decomposed form is equal. Ill-formed bytes count as U+FFFD, as they would once decoded.
    static bool canonicallyEquivalent(std::string_view a, std::string_view b);

    // Whether the code point has a numeric type (digits, numerals, fractions, in any script).
    static bool isNumeric(char32_t codePoint);
};

} // namespace velm
