#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace velm {

// Plane geometry in 64-bit floats, shared by the gesture engines, the viewport and tap targeting.
// Points, sizes and vectors are kept apart so that a movement is never mistaken for a place.

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

struct Vector {
    double dx = 0;
    double dy = 0;

    double length() const { return std::hypot(dx, dy); }
    bool operator==(const Vector&) const = default;
};

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

inline Size operator-(Point a, Point b) {
    return {a.x - b.x, a.y - b.y};
}

inline double distance(Point a, Point b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    double width() const { return size.width; }
    double height() const { return size.height; }

    Rect insetBy(double dx, double dy) const {
        return {{origin.x + dx, origin.y + dy}, {size.width - 2 * dx, size.height - 2 * dy}};
    }

    bool operator==(const Rect&) const = default;
};

// Values beyond this magnitude are treated like NaN and infinities: as broken input. Below it, sums,
// differences, squares and quotients by the smallest sample interval all stay finite.
inline constexpr double largestUsableMagnitude = 1e12;

inline bool isUsable(double value) {
    return std::isfinite(value) && std::fabs(value) <= largestUsableMagnitude;
}
inline bool isUsable(Point p) {
    return isUsable(p.x) && isUsable(p.y);
}
inline bool isUsable(Size s) {
    return isUsable(s.width) && isUsable(s.height);
}

// Narrows to a 32-bit float (the wire's and the drawing's width) without leaving its range: a double
// beyond the largest float would be undefined behaviour, and NaN has no meaning on the wire.
inline float toFloat(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -largest, largest));
}

} // namespace velm
