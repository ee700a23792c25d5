#include "protocol/client/ReconnectPolicy.h"

#include <algorithm>
#include <cmath>

namespace velm {

void ReconnectPolicy::reset() {
    attempt_ = 0;
    waitingSince_.reset();
}

void ReconnectPolicy::beginWaiting(Clock::time_point at) {
    if (!waitingSince_) {
        waitingSince_ = at;
    }
}

ReconnectPolicy::Step ReconnectPolicy::nextStep(bool mayBeginRetries, Clock::time_point now) {
    if (waitingSince_) {
        if (now - *waitingSince_ < waitLimit) {
            return Wait{waitInterval};
        }
        return GiveUp{};
    }
    if (!mayBeginRetries && attempt_ < 1) {
        return GiveUp{};
    }
    if (attempt_ >= maxRetries) {
        waitingSince_ = now;
        return Wait{waitInterval};
    }
    const Seconds delay = std::min(firstDelay * std::pow(delayGrowth, attempt_), longestDelay);
    ++attempt_;
    return Retry{delay, attempt_};
}

} // namespace velm
