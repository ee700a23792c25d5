#pragma once

#include <string>
#include <string_view>

namespace velm {

// UTF-8 checks for text that comes from outside (file names, host names, firmware strings):
// on Linux such text is arbitrary bytes, while the wire carries only valid UTF-8.
class Utf8 {
public:
    // True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
    static bool isValid(std::string_view bytes);

    // The text with every ill-formed sequence replaced by U+FFFD, one replacement per maximal
    // ill-formed subpart (the usual Unicode practice). Valid input comes back unchanged.
    static std::string repaired(std::string_view bytes);
};

} // namespace velm
