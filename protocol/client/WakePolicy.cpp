#include "protocol/client/WakePolicy.h"

namespace velm {

void WakePolicy::noteActivity(double level, Clock::time_point at) {
    if (level >= livelyLevel) {
        lastLively_ = at;
    }
}

bool WakePolicy::isLively(Clock::time_point now) const {
    return lastLively_ && now - *lastLively_ < livelySpan;
}

} // namespace velm
