#pragma once

#include "input/Geometry.h"
#include "input/client/GestureOutput.h"
#include "input/client/TouchMode.h"
#include "input/client/TouchSample.h"
#include "input/client/Viewport.h"
#include "protocol/PointerButton.h"

#include <cstdint>
#include <map>
#include <variant>
#include <vector>

namespace velm {

// Interprets finger touches on the picture of the remote screen: taps, drags, holds, two-finger
// scrolls and taps, pinches and three-finger pans. A plain value: the caller feeds it every touch
// sample and, from a timer of its own while a finger is down, the current time; each call returns
// the outputs to act on, in order. The same calls always give the same outputs.
class TouchGestureEngine {
public:
    // One finger counts as moved beyond this distance (points) from its start.
    static constexpr double slop = 10;
    // Trackpad tracking, and an armed drag in direct mode, start beyond this distance from the start.
    static constexpr double jitter = 4;
    // Longest one- or two-finger tap (seconds), from the gesture's start.
    static constexpr double tapTime = 0.3;
    // Two fingers become a pinch when their distance changed by more than this from the start.
    static constexpr double pinchChange = 28;
    // Two fingers become a scroll when their centroid moved more than this from the start.
    static constexpr double scrollStart = 10;
    // A pinch zooms only while the previous finger distance exceeds this.
    static constexpr double zoomFloor = 1.0;
    static constexpr double twoFingerScrollGain = 2;
    // A hold that arms a drag (trackpad, and direct with one-finger scrolling).
    static constexpr double dragArmTime = 0.4;
    // A hold that makes a long press (direct without one-finger scrolling).
    static constexpr double longPressTime = 0.55;
    // A coast needs the last movement less than this long before the lift...
    static constexpr double coastRecency = 0.08;
    // ...and a speed above this, points per second.
    static constexpr double coastSpeed = 250;
    // Sample intervals are floored at this in velocity and speed computations.
    static constexpr double shortestInterval = 1.0 / 240;
    // The touch radius (points) used for a tap's reach when the sample had none.
    static constexpr double defaultReachRadius = 20;

    TouchGestureEngine(TouchMode mode, Viewport viewport, Size remotePointSize);

    std::vector<GestureOutput> handle(const TouchSample& sample);
    // Fires the hold rules at most once per gesture.
    std::vector<GestureOutput> holdElapsed(double now);

    TouchMode mode() const { return mode_; }
    const Viewport& viewport() const { return viewport_; }
    Size remotePointSize() const { return remotePointSize_; }
    // The remote pointer's normalised position, each coordinate 0...1.
    Point pointer() const { return pointer_; }
    bool hostFindsTapTargets() const { return hostFindsTapTargets_; }
    bool oneFingerScrolls() const { return oneFingerScrolls_; }

    void setMode(TouchMode mode) { mode_ = mode; }
    void setViewport(const Viewport& viewport) { viewport_ = viewport; }
    void setRemotePointSize(Size size) { remotePointSize_ = size; }
    // Clamped into 0...1; a coordinate that is not a number puts the pointer in the middle.
    void setPointer(Point pointer);
    void setHostFindsTapTargets(bool finds) { hostFindsTapTargets_ = finds; }
    void setOneFingerScrolls(bool scrolls) { oneFingerScrolls_ = scrolls; }

private:
    enum class TwoFingerIntent { undecided, scroll, pinch };

    struct OneFinger {
        std::int64_t id = 0;
        Point start;
        double startTime = 0;
        Point last;
        double lastTime = 0;
        bool moved = false;    // the finger once went more than `slop` from its start
        bool tracking = false; // trackpad movement has begun
        bool dragging = false; // a button is held down by this gesture
        bool consumed = false; // a long press took the gesture
        double radius = 0;     // largest radius seen
        bool armed = false;    // a hold armed a drag
        bool scrolling = false;
        Vector velocity; // points per second
    };

    struct TwoFinger {
        double startTime = 0;
        Point startCentroid;
        double startDistance = 0;
        Point lastCentroid;
        double lastDistance = 0;
        TwoFingerIntent intent = TwoFingerIntent::undecided;
    };

    // Three fingers pan the picture.
    struct ThreeFingerPan {
        Point lastCentroid;
    };
    struct Idle {};
    // A gesture ended while other fingers stay down; nothing more until all are up.
    struct Finishing {};

    using State = std::variant<OneFinger, TwoFinger, ThreeFingerPan, Idle, Finishing>;

    using Outputs = std::vector<GestureOutput>;

    Outputs touchBegan(const TouchSample& sample);
    Outputs touchMoved(const TouchSample& sample);
    Outputs touchEnded(const TouchSample& sample, bool cancelled);
    Outputs oneFingerMoved(OneFinger& finger, const TouchSample& sample);
    Outputs twoFingersMoved(TwoFinger& fingers);
    Outputs oneFingerLifted(const OneFinger& finger, double time, bool cancelled);

    Point centroid() const;
    double twoFingerDistance() const;
    GestureOutput pointToFinger(Point location);
    void movePointerLikeATrackpad(Size movement, double dt);
    Outputs tapOutputs(PointerButton button, double radius) const;

    TouchMode mode_;
    Viewport viewport_;
    Size remotePointSize_;
    Point pointer_{0.5, 0.5};
    bool hostFindsTapTargets_ = false;
    bool oneFingerScrolls_ = false;
    State state_ = Idle{};
    // Ordered, so that sums over the fingers are the same on every run.
    std::map<std::int64_t, Point> touches_;
};

} // namespace velm
