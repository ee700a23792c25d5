#pragma once

#include "input/Geometry.h"

#include <optional>

namespace velm {

// Carries a flicked scroll on after the finger or stylus left the glass: the velocity decays
// exponentially and the coast ends once it has slowed to a crawl.
class ScrollMomentum {
public:
    // Velocity decays by this factor every millisecond.
    static constexpr double decayPerMillisecond = 0.998;
    // At or below this speed (points per second) the coast is over.
    static constexpr double stopSpeed = 20;

    // Points per second; a velocity that is not a usable number does not coast.
    explicit ScrollMomentum(Vector velocity);

    // The displacement for the next dt seconds, or none once the coast is over.
    std::optional<Size> step(double dt);

    Vector velocity() const { return velocity_; }

private:
    Vector velocity_;
};

} // namespace velm
