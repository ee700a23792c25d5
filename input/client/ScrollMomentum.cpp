#include "input/client/ScrollMomentum.h"

#include <cmath>

namespace velm {

ScrollMomentum::ScrollMomentum(Vector velocity)
    : velocity_(isUsable(velocity.dx) && isUsable(velocity.dy) ? velocity : Vector{}) {}

std::optional<Size> ScrollMomentum::step(double dt) {
    if (!isUsable(dt) || !(dt > 0) || !(velocity_.length() > stopSpeed))
        return std::nullopt;
    Size displacement{velocity_.dx * dt, velocity_.dy * dt};
    double decay = std::pow(decayPerMillisecond, dt * 1000);
    velocity_ = {velocity_.dx * decay, velocity_.dy * decay};
    return displacement;
}

} // namespace velm
