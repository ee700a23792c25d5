#pragma once

#include "input/Geometry.h"

#include <cstdint>

namespace velm {

// One touch sample from the client's view.
struct TouchSample {
    enum class Phase { began, moved, ended, cancelled };

    // Identifies the finger for the life of the touch.
    std::int64_t id = 0;
    Phase phase = Phase::began;
    // View points.
    Point location;
    // Seconds on a monotonic clock shared by all samples and by the hold check.
    double time = 0;
    // View points; 0 when the view gives none.
    double radius = 0;

    friend bool operator==(const TouchSample&, const TouchSample&) = default;
};

} // namespace velm
