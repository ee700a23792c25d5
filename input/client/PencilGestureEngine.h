#pragma once

#include "input/Geometry.h"
#include "input/client/PencilMode.h"
#include "input/client/PencilOutput.h"

#include <variant>
#include <vector>

namespace velm {

// Interprets a stylus on the picture of the remote screen. A plain value: the caller feeds it samples
// and times (seconds on one monotonic clock, positions in view points) and acts on the outputs, in
// order. It owns no timer: while `isPending()` the caller calls `holdElapsed` from a timer of its own.
class PencilGestureEngine {
public:
    // The stylus may move this far (points) and still tap.
    static constexpr double slop = 8;
    // Holding this long (seconds) without moving arms a drag.
    static constexpr double dragArmTime = 0.4;
    // A coast needs the last movement less than this long (seconds) before the lift...
    static constexpr double coastRecency = 0.08;
    // ...and a speed above this (points per second).
    static constexpr double coastSpeed = 250;
    // Sample intervals are floored at this in velocity computations.
    static constexpr double shortestInterval = 1.0 / 240;

    std::vector<PencilOutput> began(Point location, double time, PencilMode mode, bool isWritingStroke);
    std::vector<PencilOutput> moved(Point location, double time);
    std::vector<PencilOutput> ended(Point location, double time);
    std::vector<PencilOutput> cancelled();
    std::vector<PencilOutput> holdElapsed(double now);

    bool isPending() const { return std::holds_alternative<Pending>(state_); }

private:
    // A stroke the client leaves to writing; it clicks only when it stayed put.
    struct Writing {
        Point start;
        bool wandered = false;
    };
    // Down in automatic mode, neither moved beyond the slop nor held long enough.
    struct Pending {
        Point start;
        double since = 0;
    };
    struct Scrolling {
        Point last;
        double time = 0;
        Vector velocity;
    };
    struct Idle {};
    // The primary button is down.
    struct Dragging {};

    using State = std::variant<Writing, Pending, Scrolling, Idle, Dragging>;

    State state_ = Idle{};
};

} // namespace velm
