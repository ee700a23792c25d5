#pragma once

#include "input/Geometry.h"
#include "platform/display/ScreenPoint.h"
#include "platform/display/ScreenRect.h"

#include <algorithm>
#include <cmath>

namespace velm::ScreenGeometry {

// Between the desktop's whole pixels (the accessibility tree's) and the plane's points (tap
// targeting's), which share one origin: X has one scale, so a pixel is a point.

// X coordinates are 16-bit; anything far beyond them is simply off the desktop.
inline constexpr double largestCoordinate = 1 << 20;

inline ScreenPoint toScreen(Point point) {
    const auto coordinate = [](double value) {
        return static_cast<int>(std::lround(std::clamp(value, -largestCoordinate, largestCoordinate)));
    };
    return {coordinate(point.x), coordinate(point.y)};
}

inline Rect toRect(const ScreenRect& rect) {
    return {{static_cast<double>(rect.x), static_cast<double>(rect.y)},
            {static_cast<double>(rect.width), static_cast<double>(rect.height)}};
}

// Minimum edges inside, maximum edges outside.
inline bool contains(const Rect& rect, Point point) {
    return point.x >= rect.minX() && point.x < rect.maxX() && point.y >= rect.minY() && point.y < rect.maxY();
}

// Empty (zero width or height) when the two do not overlap.
inline Rect intersection(const Rect& a, const Rect& b) {
    const double minX = std::max(a.minX(), b.minX());
    const double minY = std::max(a.minY(), b.minY());
    const double maxX = std::min(a.maxX(), b.maxX());
    const double maxY = std::min(a.maxY(), b.maxY());
    return {{minX, minY}, {std::max(maxX - minX, 0.0), std::max(maxY - minY, 0.0)}};
}

} // namespace velm::ScreenGeometry
