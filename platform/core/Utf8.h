#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velm {

// Byte-level UTF-8 rules shared by the encoders and decoders: validation, decoding,
// cutting on a character boundary, and repair of text from outside sources
// (file names, selections) that need not be UTF-8 at all.
class Utf8 {
public:
    Utf8() = delete;

    // Whether the bytes are well-formed UTF-8: shortest forms only, no
    // surrogates, nothing above U+10FFFF.
    static bool isValid(ByteView bytes);
    static bool isValid(std::string_view text);

    // The largest length no more than limit at which valid text can be cut
    // without splitting a character.
    static std::size_t cutLength(std::string_view validText, std::size_t limit);

    // The code points of the text up to its first ill-formed sequence, by the rules of isValid.
    static std::u32string codePoints(std::string_view text);

    // Appends the code point's bytes; the caller gives a scalar value (no surrogate, at most U+10FFFF).
    static void append(std::string& text, char32_t point);

    // The text with each maximal ill-formed subsequence replaced by U+FFFD.
    // Valid text comes back unchanged.
    static std::string repaired(std::string_view text);
};

} // namespace velm
