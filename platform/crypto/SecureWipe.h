#pragma once

#include <cstdint>
#include <span>

namespace velm {

// Overwrites bytes that held key material with zeros, in a way the compiler may not drop
// as a dead store (a plain fill before the buffer is freed can vanish).
void secureWipe(std::span<std::uint8_t> bytes);

} // namespace velm
