#pragma once

#include <cstdint>

namespace velm {

// Microseconds since boot from a clock that neither jumps with time changes nor
// advances during suspend: the time base of the transport and the video path.
// Stamps from different machines are never compared directly.
class MonotonicClock {
public:
    MonotonicClock() = delete;

    static std::uint64_t now();

    // The time from start to end in milliseconds; 0 when end lies before start.
    static double milliseconds(std::uint64_t start, std::uint64_t end) {
        return end < start ? 0.0 : static_cast<double>(end - start) / 1000.0;
    }
};

} // namespace velm
