#include "platform/x11/WheelAccumulator.h"

#include <algorithm>

namespace velm {

int WheelAccumulator::add(std::int32_t points) {
    if (points == 0) {
        return 0;
    }
    if ((remainder_ < 0) != (points < 0)) {
        remainder_ = 0;
    }
    const std::int64_t total = remainder_ + points;
    const std::int64_t clicks = total / pointsPerClick;
    if (clicks > mostClicks || clicks < -mostClicks) {
        remainder_ = 0;
        return static_cast<int>(std::clamp(clicks, -mostClicks, mostClicks));
    }
    remainder_ = total - clicks * pointsPerClick;
    return static_cast<int>(clicks);
}

} // namespace velm
