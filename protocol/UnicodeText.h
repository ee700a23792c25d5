#pragma once

#include <cstddef>
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

    // Whether the text shows nothing: empty, or only white space, control and invisible formatting
    // characters. Text that is not valid UTF-8 shows something.
    static bool isBlank(std::string_view text);

    // Whether the code point has a numeric type (digits, numerals, fractions, in any script).
    static bool isNumeric(char32_t codePoint);

    // The byte length of the longest beginning of valid UTF-8 text that is at most `limit` bytes
    // long and ends between two user-perceived characters (grapheme clusters); 0 when even the
    // first character is longer. Looks at no more of the text than the limit needs.
    static std::size_t graphemePrefixLength(std::string_view text, std::size_t limit);

    // The byte length of the first user-perceived character of valid UTF-8 text; 0 when empty.
    static std::size_t firstGraphemeLength(std::string_view text);
};

} // namespace velm
