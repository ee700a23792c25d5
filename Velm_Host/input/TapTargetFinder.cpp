#include "Velm_Host/input/TapTargetFinder.h"

#include "Velm_Host/session/ScreenGeometry.h"
#include "input/TapTargeting.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/accessibility/AccessibleTree.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
#include <string>
#include <vector>

namespace velm {
namespace {

using ScreenGeometry::contains;
using ScreenGeometry::intersection;
using ScreenGeometry::toRect;
using ScreenGeometry::toScreen;

const Log tapTargetFinderLog("input");

// Each tapped element is looked at with at most three of its ancestors for a control.
constexpr int controlAncestorLevels = 3;

// The element itself or the nearest of its first ancestors that is a control.
std::optional<AccessibleElement> controlAncestor(AccessibleTree& tree, AccessibleElement element) {
    for (int level = 0;; ++level) {
        if (TapTargeting::kind(tree.role(element)) == TapTargeting::Kind::control) {
            return element;
        }
        if (level == controlAncestorLevels) {
            return std::nullopt;
        }
        auto above = tree.parent(element);
        if (!above) {
            return std::nullopt;
        }
        element = std::move(*above);
    }
}

// The desktop clicks the whole pixel nearest to a point, so a landing on the far edge of a control
// one or two pixels across would round onto the pixel beyond it: it goes to the control's last pixel.
Point onControlPixels(const Rect& control, Point target) {
    const auto axis = [](double value, double low, double high) {
        return std::round(value) < high ? value : std::max(low, high - 1);
    };
    return {axis(target.x, control.minX(), control.maxX()), axis(target.y, control.minY(), control.maxY())};
}

} // namespace

// A control found around the tap, with its rectangle on the screen.
struct TapTargetFinder::Candidate {
    AccessibleElement control;
    Rect rect;
};

// One search's lookups around the tap: what was looked at and the enabled controls found.
struct TapTargetFinder::Probe {
    AccessibleTree& tree;
    const std::function<Clock::time_point()>& now;
    Rect bounds;
    std::vector<AccessibleElement> lookedUp;
    std::vector<Candidate> candidates;

    // Hit-tests the probe points in order, until the time for new lookups is up.
    void around(Point point, double reach, Clock::time_point probeStart);
    void consider(const std::optional<AccessibleElement>& control);
    const Candidate* candidateAt(Point point, double margin = 0) const;
    void logChoice(Point point, Point target, double reach, double elapsedMs) const;
};

TapTargetFinder::TapTargetFinder(std::shared_ptr<Accessibility> accessibility,
                                 std::function<Clock::time_point()> now)
    : accessibility_(std::move(accessibility)), now_(std::move(now)) {}

std::optional<Point> TapTargetFinder::find(Point point, double reach, Rect bounds) const {
    if (!isUsable(point)) {
        return std::nullopt;
    }
    struct Answer {
        std::promise<std::optional<Point>> promise;
        std::atomic<bool> isAbandoned{false};
    };
    auto answer = std::make_shared<Answer>();
    auto result = answer->promise.get_future();
    // The visit holds nothing of the finder's: a caller that gave up may be gone by the time it runs.
    accessibility_->visit([now = now_, answer, point, reach, bounds](AccessibleTree& tree) {
        answer->promise.set_value(answer->isAbandoned ? std::nullopt
                                                      : search(tree, now, point, reach, bounds));
    });
    if (result.wait_for(longestWait) != std::future_status::ready) {
        answer->isAbandoned = true;
        tapTargetFinderLog.info("tap targeting gave up waiting for the accessibility tree");
        return std::nullopt;
    }
    return result.get();
}

std::optional<Point> TapTargetFinder::search(AccessibleTree& tree,
                                             const std::function<Clock::time_point()>& now, Point point,
                                             double radius, Rect bounds) {
    const auto start = now();
    auto hit = tree.elementAt(toScreen(point));
    // Looking at what was hit already counts against the time for new lookups.
    const auto probeStart = now();
    if (!hit || controlAncestor(tree, *hit)) {
        return std::nullopt;
    }
    const auto kind = TapTargeting::kind(tree.role(*hit));
    const auto reach = TapTargeting::reach(kind, radius);
    if (!reach) {
        return std::nullopt;
    }
    Probe probe{tree, now, bounds, {*hit}, {}};
    probe.around(point, *reach, probeStart);

    std::vector<Rect> rects;
    for (const auto& candidate : probe.candidates) {
        rects.push_back(candidate.rect);
    }
    auto target = TapTargeting::bestTarget(kind, rects, point, radius);
    if (target) {
        if (const Candidate* chosen = probe.candidateAt(*target, 0.5)) {
            target = onControlPixels(chosen->rect, *target);
        }
        const double elapsedMs = std::chrono::duration<double, std::milli>(now() - start).count();
        probe.logChoice(point, *target, *reach, elapsedMs);
    }
    return target;
}

void TapTargetFinder::Probe::around(Point point, double reach, Clock::time_point probeStart) {
    for (const Point at : TapTargeting::probePoints(point, reach)) {
        if (!contains(bounds, at) || candidateAt(at)) {
            continue;
        }
        if (now() - probeStart > probeBudget) {
            break;
        }
        auto element = tree.elementAt(toScreen(at));
        if (!element || std::find(lookedUp.begin(), lookedUp.end(), *element) != lookedUp.end()) {
            continue;
        }
        lookedUp.push_back(*element);
        consider(controlAncestor(tree, *element));
    }
}

void TapTargetFinder::Probe::consider(const std::optional<AccessibleElement>& control) {
    if (!control || std::any_of(candidates.begin(), candidates.end(),
                                [&](const Candidate& candidate) { return candidate.control == *control; })) {
        return;
    }
    const auto frame = tree.frame(*control);
    if (frame && tree.isEnabled(*control)) {
        candidates.push_back({*control, intersection(toRect(*frame), bounds)});
    }
}

const TapTargetFinder::Candidate* TapTargetFinder::Probe::candidateAt(Point point, double margin) const {
    const auto found = std::find_if(candidates.begin(), candidates.end(), [&](const Candidate& candidate) {
        return contains(candidate.rect.insetBy(-margin, -margin), point);
    });
    return found == candidates.end() ? nullptr : &*found;
}

void TapTargetFinder::Probe::logChoice(Point point, Point target, double reach, double elapsedMs) const {
    // The control the tap went to is the first whose rectangle (a hair larger) holds the target.
    const Candidate* chosen = candidateAt(target, 0.5);
    const auto role = chosen ? tree.role(chosen->control) : std::nullopt;
    const Rect rect = chosen ? chosen->rect : Rect{};
    tapTargetFinderLog.debug("tap given to %s %ldx%ld, %.1f pt away, reach %.0f, %zu lookups, %.1f ms",
                             role.value_or("?").c_str(), std::lround(rect.width()),
                             std::lround(rect.height()), distance(point, target), reach, lookedUp.size(),
                             elapsedMs);
}

} // namespace velm
