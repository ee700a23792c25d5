#pragma once

#include <limits>

namespace velm::test {

// Coordinates and times no real device sends, for what the input engines make of them.
inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double inf = std::numeric_limits<double>::infinity();

} // namespace velm::test
