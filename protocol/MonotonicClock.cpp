#include "protocol/MonotonicClock.h"

#include "platform/core/UptimeClock.h"

namespace velm {

std::uint64_t MonotonicClock::now() {
    return UptimeClock::microseconds();
}

} // namespace velm
