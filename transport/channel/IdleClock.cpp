#include "transport/channel/IdleClock.h"

#include <cmath>

namespace velm {

std::optional<double> IdleClock::usable(std::optional<double> timeout) {
    if (timeout && std::isfinite(*timeout) && *timeout > 0) {
        return timeout;
    }
    return std::nullopt;
}

void IdleClock::activity(double at) {
    lastActivity_ = at;
    warned_ = false;
}

IdleClock::Action IdleClock::tick(double now) {
    if (!timeout_) {
        return Action::nothing();
    }
    double remaining = *timeout_ + lastActivity_ - now;
    if (remaining <= 0) {
        return Action::end();
    }
    // remaining lies in (0, 60] here, so the conversion is defined; a NaN fails both comparisons.
    if (remaining <= warningLead && !warned_) {
        warned_ = true;
        return Action::warn(static_cast<int>(std::floor(remaining)));
    }
    return Action::nothing();
}

} // namespace velm
