#pragma once

#include "input/Geometry.h"

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velm {

// The pure geometry of snapping a finger tap onto a nearby control: what kind of element a tap hit,
// how far it may be moved, where to look around it, and which of the controls found wins.
// Roles are accessibility role names ("AXButton", ...); coordinates are global display points.
namespace TapTargeting {

enum class Kind { control, content, deadSpace };

// Touch radii are clamped into this range before a reach is derived from them.
inline constexpr double smallestRadius = 8;
inline constexpr double largestRadius = 40;

// No role counts as dead space; roles in neither set are content.
Kind kind(std::optional<std::string_view> role);

// How far (points) a tap on an element of this kind may be moved; none over a control, and none for
// a radius that is not a number.
std::optional<double> reach(Kind kind, double radius);

// Two rings of eight points for a reach up to 12, three beyond, innermost ring first; every even ring
// is turned by 22.5 degrees so that its points fall between those of its neighbours. Empty for a
// centre or reach that is not a finite number.
std::vector<Point> probePoints(Point centre, double reach);

// Where a tap at `point` should land, given the kind of what it hit, the candidate controls'
// rectangles in the order they were found and the touch radius; none when it should stay.
std::optional<Point> bestTarget(Kind kind, std::span<const Rect> rects, Point point, double radius);

} // namespace TapTargeting

} // namespace velm
