#include "platform/core/UptimeClock.h"

#include <time.h>

namespace velm {

std::uint64_t UptimeClock::microseconds() {
    timespec time{};
    // The raw clock is not slewed by time adjustment and, like the plain
    // monotonic clock, stops while the machine sleeps.
    clock_gettime(CLOCK_MONOTONIC_RAW, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000u +
           static_cast<std::uint64_t>(time.tv_nsec) / 1000u;
}

} // namespace velm
