#include "input/TapTargeting.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_set>

namespace velm::TapTargeting {

namespace {

using RoleSet = std::unordered_set<std::string_view>;

const RoleSet& controlRoles() {
    static const RoleSet roles{
        "AXButton",     "AXCheckBox",    "AXRadioButton",        "AXPopUpButton",
        "AXMenuButton", "AXLink",        "AXDisclosureTriangle", "AXIncrementor",
        "AXSlider",     "AXMenuBarItem", "AXMenuItem",           "AXDockItem",
        "AXComboBox",   "AXTextField",   "AXColorWell",          "AXTab",
        "AXSegment",
    };
    return roles;
}

const RoleSet& deadSpaceRoles() {
    static const RoleSet roles{
        "AXWindow",      "AXGroup",    "AXToolbar",    "AXScrollArea", "AXSplitGroup",     "AXUnknown",
        "AXApplication", "AXTabGroup", "AXLayoutArea", "AXSheet",      "AXDrawer",         "AXRadioGroup",
        "AXList",        "AXMenuBar",  "AXSplitter",   "AXScrollBar",  "AXValueIndicator", "AXHandle",
        "AXGrowArea",    "AXRuler",    "AXMatte",
    };
    return roles;
}

// A content element only offers small controls: anything with a shorter side above this is the
// content itself (a text view, an image), not something a finger meant to hit beside.
constexpr double largestContentControlSide = 24;

// How much a miss beside a side of length s counts: in full up to 24 points, growing to 1 / 0.35
// for sides of 72 points or more, so a large target must be hit more closely than a small one.
double gapDivisor(double side) {
    double share = std::clamp((side - 24) / 48, 0.0, 1.0);
    return 1 - 0.65 * share;
}

double gap(double value, double low, double high) {
    return std::max({low - value, 0.0, value - high});
}

double weightedDistance(const Rect& rect, Point p) {
    double dx = gap(p.x, rect.minX(), rect.maxX()) / gapDivisor(rect.width());
    double dy = gap(p.y, rect.minY(), rect.maxY()) / gapDivisor(rect.height());
    return std::hypot(dx, dy);
}

bool isCandidate(Kind kind, const Rect& rect) {
    if (!isUsable(rect.origin) || !isUsable(rect.size))
        return false;
    if (!(rect.width() >= 1 && rect.height() >= 1))
        return false;
    return kind != Kind::content || std::min(rect.width(), rect.height()) <= largestContentControlSide;
}

// A snapped tap lands up to 3 points inside the control's edge, never on the very border.
Point landingPoint(const Rect& rect, Point p) {
    Rect inner = rect.insetBy(std::min(rect.width() / 2 - 0.5, 3.0), std::min(rect.height() / 2 - 0.5, 3.0));
    return {std::clamp(p.x, inner.minX(), inner.maxX()), std::clamp(p.y, inner.minY(), inner.maxY())};
}

} // namespace

Kind kind(std::optional<std::string_view> role) {
    if (!role)
        return Kind::deadSpace;
    if (controlRoles().contains(*role))
        return Kind::control;
    if (deadSpaceRoles().contains(*role))
        return Kind::deadSpace;
    return Kind::content;
}

std::optional<double> reach(Kind kind, double radius) {
    if (std::isnan(radius))
        return std::nullopt;
    double r = std::clamp(radius, smallestRadius, largestRadius);
    switch (kind) {
    case Kind::control:
        return std::nullopt;
    case Kind::deadSpace:
        return r;
    case Kind::content:
        return std::max(r / 3, 6.0);
    }
    return std::nullopt;
}

std::vector<Point> probePoints(Point centre, double reach) {
    if (!isUsable(centre) || !isUsable(reach))
        return {};
    int rings = reach > 12 ? 3 : 2;
    std::vector<Point> points;
    points.reserve(static_cast<std::size_t>(rings) * 8);
    for (int ring = 1; ring <= rings; ++ring) {
        double radius = reach * ring / rings;
        double offset = ring % 2 == 0 ? 0.5 : 0.0;
        for (int i = 0; i < 8; ++i) {
            double angle = (i + offset) * std::numbers::pi / 4;
            points.push_back({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)});
        }
    }
    return points;
}

std::optional<Point> bestTarget(Kind kind, std::span<const Rect> rects, Point point, double radius) {
    std::optional<double> limit = reach(kind, radius);
    if (!limit || !isUsable(point))
        return std::nullopt;
    const Rect* best = nullptr;
    double bestDistance = 0;
    for (const Rect& rect : rects) {
        if (!isCandidate(kind, rect))
            continue;
        double d = weightedDistance(rect, point);
        if (d > *limit)
            continue;
        if (!best || d < bestDistance) {
            best = &rect;
            bestDistance = d;
        }
    }
    if (!best)
        return std::nullopt;
    return landingPoint(*best, point);
}

} // namespace velm::TapTargeting
