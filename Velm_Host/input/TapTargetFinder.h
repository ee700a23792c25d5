#pragma once

#include "Velm_Host/input/TapTargetSearch.h"
#include "input/Geometry.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velm {

class Accessibility;
class AccessibleTree;

// Moves a finger's tap onto the control it was probably meant for. It hit-tests the tapped point in
// the accessibility tree; when that is not a control already, it hit-tests rings of points around it,
// gathers the enabled controls found there, and lets TapTargeting pick the nearest within a reach
// that grows with the finger and depends on what was hit. Coordinates are the X root window's.
class TapTargetFinder final : public TapTargetSearch {
public:
    using Clock = std::chrono::steady_clock;

    // No new lookup starts once this much time has passed since the first probe.
    static constexpr Clock::duration probeBudget = std::chrono::milliseconds(30);
    // The caller is released after this long whatever the tree is doing (a visit stuck behind a slow
    // one); the tap then stays where it was. Each lookup is bounded by the tree's own time-out.
    static constexpr Clock::duration longestWait = std::chrono::seconds(1);

    explicit TapTargetFinder(std::shared_ptr<Accessibility> accessibility,
                             std::function<Clock::time_point()> now = Clock::now);

    // Where a tap at `point` with a touch of `reach` points should land, searching within `bounds`, or
    // nothing when it should stay. Blocks the calling queue while it asks the tree.
    std::optional<Point> find(Point point, double reach, Rect bounds) const override;

private:
    struct Candidate;
    struct Probe;

    static std::optional<Point> search(AccessibleTree& tree, const std::function<Clock::time_point()>& now,
                                       Point point, double radius, Rect bounds);

    std::shared_ptr<Accessibility> accessibility_;
    std::function<Clock::time_point()> now_;
};

} // namespace velm
