#pragma once

#include "input/Geometry.h"

#include <optional>

namespace velm {

// Finds the control a finger tap was meant for: a coarse tap often lands a few points beside a small
// button. The input injector asks it before clicking a tap.
class TapTargetSearch {
public:
    virtual ~TapTargetSearch() = default;

    // `point` is the tap in root-window coordinates, `reach` the touch radius the client sent (points,
    // finite), `bounds` the area the client sees: controls outside it are not looked for, and those
    // across its edge count only as far as they lie inside. The point on the control the tap should
    // move to, or nothing when it should stay. Called on the session's queue; may block it briefly.
    virtual std::optional<Point> find(Point point, double reach, Rect bounds) const = 0;
};

} // namespace velm
