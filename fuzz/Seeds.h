#pragma once

#include "platform/core/Bytes.h"

#include <vector>

namespace velm::fuzz {

// A target's seed corpus is written by the project's own encoders, never by hand: run with
// VELM_FUZZ_WRITE_SEEDS=<folder>, a target writes its seeds there and exits (scripts/fuzz.sh seeds).
// Otherwise this returns 0 and fuzzing goes on.
int writeSeedsIfAsked(const std::vector<Bytes>& seeds);

} // namespace velm::fuzz
