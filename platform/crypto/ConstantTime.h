#pragma once

#include "platform/core/Bytes.h"

namespace velm {

// Whether two byte runs are equal, taking the same time whatever their contents.
// Only the lengths may leak: runs of different lengths are unequal at once.
bool constantTimeEqual(ByteView left, ByteView right);

} // namespace velm
