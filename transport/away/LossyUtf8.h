#pragma once

#include "platform/core/Bytes.h"

#include <string>

namespace velm {

// Router answers are decoded as UTF-8 with every ill-formed sequence replaced
// by U+FFFD, so that text handed on (logs, status lines) is always valid.
struct LossyUtf8 {
    static std::string decode(ByteView bytes);
};

} // namespace velm
