#include "input/client/ScrollMomentum.h"

#include <algorithm>
#include <cmath>

namespace velm {

namespace {

// The whole of a coast, every step from now until it stops, carries the picture about this many
// seconds' worth of the current velocity. A longer step (a frame that came late, a view paused
// mid-coast) is carried no further, or it would throw the picture many times past where the flick could
// ever have taken it.
const double wholeCoastSeconds = 1 / (1000 * std::log(1 / ScrollMomentum::decayPerMillisecond));

} // namespace

ScrollMomentum::ScrollMomentum(Vector velocity)
    : velocity_(isUsable(velocity.dx) && isUsable(velocity.dy) ? velocity : Vector{}) {}

std::optional<Size> ScrollMomentum::step(double dt) {
    if (!isUsable(dt) || !(dt > 0) || !(velocity_.length() > stopSpeed))
        return std::nullopt;
    double carried = std::min(dt, wholeCoastSeconds);
    Size displacement{velocity_.dx * carried, velocity_.dy * carried};
    double decay = std::pow(decayPerMillisecond, dt * 1000);
    velocity_ = {velocity_.dx * decay, velocity_.dy * decay};
    return displacement;
}

} // namespace velm
