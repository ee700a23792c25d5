#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velm {

// Overwrites bytes that held key material with zeros, in a way the compiler may not drop
// as a dead store (a plain fill before the buffer is freed can vanish).
void secureWipe(std::span<std::uint8_t> bytes);
// The same for text that held key material (such as its Base64).
void secureWipe(std::string& text);

} // namespace velm
