#pragma once

#include <cstdint>

namespace velm {

// The machine's raw uptime: never adjusted by time changes or slewing, and stopped while the
// machine sleeps.
class UptimeClock {
public:
    UptimeClock() = delete;

    // Whole microseconds since boot.
    static std::uint64_t microseconds();
};

} // namespace velm
