#pragma once

#include "platform/core/Utf8.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velm {

// Text from a device made fit to keep: ill-formed UTF-8 repaired, and cut on a character
// boundary to at most `maxBytes`, so that a name of megabytes cannot swell what is stored.
inline std::string boundedText(std::string_view text, std::size_t maxBytes) {
    std::string kept = Utf8::repaired(text.substr(0, maxBytes + 4));
    kept.resize(Utf8::cutLength(kept, maxBytes));
    return kept;
}

} // namespace velm
