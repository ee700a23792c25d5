#pragma once

#include <cstdint>

namespace velm {

// How the host's own virtual display tells itself apart from real screens: the curtain leaves a
// screen of this vendor uncovered, and the device pictures skip it when they look for an
// attached display.
struct VirtualDisplayIdentity {
    static constexpr std::uint32_t vendor = 0x47A2;
    static constexpr std::uint32_t product = 1;
};

} // namespace velm
