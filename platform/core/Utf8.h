#pragma once

#include <string_view>

namespace velm {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
struct Utf8 {
    static bool isValid(std::string_view text);
};

} // namespace velm
