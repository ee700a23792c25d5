#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velm::fuzz {

// What every target in fuzz/targets/ defines; fuzz/Target.cpp is libFuzzer's entry for them all.

// The target's seed corpus, made by the project's own encoders (see Seeds.h).
std::vector<Bytes> seeds();

// Feeds one input to the code under test; a finding aborts.
void fuzzOne(const std::uint8_t* data, std::size_t size);

} // namespace velm::fuzz
