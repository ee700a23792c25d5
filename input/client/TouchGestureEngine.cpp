#include "input/client/TouchGestureEngine.h"

#include <algorithm>
#include <cmath>

namespace velm {

namespace {

using Phase = TouchSample::Phase;

// A length to divide by: at least one point, and one when it is not a usable number.
double lengthOrOne(double length) {
    return isUsable(length) && length >= 1 ? length : 1;
}

double clampPointerUnit(double value) {
    return std::isnan(value) ? 0.5 : std::clamp(value, 0.0, 1.0);
}

GestureOutput press(PointerButton button) {
    return GestureOutput::input(InputEvent::pointerDown(button));
}
GestureOutput release(PointerButton button) {
    return GestureOutput::input(InputEvent::pointerUp(button));
}

} // namespace

TouchGestureEngine::TouchGestureEngine(TouchMode mode, Viewport viewport, Size remotePointSize)
    : mode_(mode), viewport_(viewport), remotePointSize_(remotePointSize) {}

void TouchGestureEngine::setPointer(Point pointer) {
    pointer_ = {clampPointerUnit(pointer.x), clampPointerUnit(pointer.y)};
}

std::vector<GestureOutput> TouchGestureEngine::handle(const TouchSample& sample) {
    TouchSample clean = sample;
    if (!isUsable(clean.radius))
        clean.radius = 0;
    bool placed = isUsable(clean.location) && isUsable(clean.time);
    switch (clean.phase) {
    case Phase::began: {
        // A touch that begins under the id of one still down means the view lost the end of that one:
        // it is ended as cancelled first, so that its gesture neither jumps to the new place nor
        // turns the new touch into a drag from the old one.
        Outputs out;
        if (touches_.erase(clean.id) != 0)
            out = touchEnded(clean, true);
        // A touch that cannot be placed is never recorded, so its later samples are ignored too.
        if (!placed)
            return out;
        touches_[clean.id] = clean.location;
        for (GestureOutput& output : touchBegan(clean))
            out.push_back(std::move(output));
        return out;
    }
    case Phase::moved: {
        auto touch = touches_.find(clean.id);
        if (touch == touches_.end() || !placed)
            return {};
        touch->second = clean.location;
        return touchMoved(clean);
    }
    case Phase::ended:
    case Phase::cancelled:
        if (touches_.erase(clean.id) == 0)
            return {};
        // A lift at a broken time cannot be measured for a tap or a coast: it only lets go.
        return touchEnded(clean, clean.phase == Phase::cancelled || !isUsable(clean.time));
    }
    return {};
}

std::vector<GestureOutput> TouchGestureEngine::touchBegan(const TouchSample& sample) {
    std::size_t count = touches_.size();
    if (std::holds_alternative<Idle>(state_) && count == 1) {
        OneFinger finger;
        finger.id = sample.id;
        finger.start = finger.last = sample.location;
        finger.startTime = finger.lastTime = sample.time;
        finger.radius = sample.radius;
        state_ = finger;
        if (mode_ == TouchMode::direct)
            return {pointToFinger(sample.location)};
        return {};
    }
    if (auto* finger = std::get_if<OneFinger>(&state_)) {
        // A finger that drags keeps its drag; extra fingers are only recorded. Otherwise whatever the
        // single finger had armed or begun is dropped; no button is held, since it was not dragging.
        if (finger->dragging)
            return {};
        if (count == 2) {
            Point c = centroid();
            double d = twoFingerDistance();
            state_ = TwoFinger{sample.time, c, d, c, d, TwoFingerIntent::undecided};
        } else if (count == 3) {
            state_ = ThreeFingerPan{centroid()};
        }
        return {};
    }
    if (std::holds_alternative<TwoFinger>(state_) && count == 3)
        state_ = ThreeFingerPan{centroid()};
    // A further finger of a pan moves the centroid without moving the hand: measure from there.
    if (auto* pan = std::get_if<ThreeFingerPan>(&state_))
        pan->lastCentroid = centroid();
    return {};
}

std::vector<GestureOutput> TouchGestureEngine::touchMoved(const TouchSample& sample) {
    if (auto* finger = std::get_if<OneFinger>(&state_)) {
        if (sample.id != finger->id)
            return {};
        return oneFingerMoved(*finger, sample);
    }
    if (auto* fingers = std::get_if<TwoFinger>(&state_)) {
        if (touches_.size() != 2)
            return {};
        return twoFingersMoved(*fingers);
    }
    if (auto* pan = std::get_if<ThreeFingerPan>(&state_)) {
        Point c = centroid();
        Size movement = c - pan->lastCentroid;
        pan->lastCentroid = c;
        return {GestureOutput::pan(movement)};
    }
    return {};
}

std::vector<GestureOutput> TouchGestureEngine::oneFingerMoved(OneFinger& finger, const TouchSample& sample) {
    finger.radius = std::max(finger.radius, sample.radius);
    double d = distance(finger.start, sample.location);
    if (d > slop)
        finger.moved = true;

    Outputs out;
    if (mode_ == TouchMode::trackpad) {
        if (finger.tracking || finger.dragging) {
            movePointerLikeATrackpad(sample.location - finger.last, sample.time - finger.lastTime);
            out.push_back(
                GestureOutput::input(InputEvent::pointerMove(toFloat(pointer_.x), toFloat(pointer_.y))));
        } else if (d > jitter) {
            // Tracking starts here; the movement so far is not applied, so a resting finger's jitter
            // never nudges the pointer.
            finger.tracking = true;
        }
    } else if (finger.dragging) {
        if (!finger.consumed)
            out.push_back(pointToFinger(sample.location));
    } else if (!oneFingerScrolls_) {
        if (finger.moved && !finger.consumed) {
            out.push_back(press(PointerButton::left()));
            finger.dragging = true;
            out.push_back(pointToFinger(sample.location));
        }
    } else if (finger.armed) {
        if (d > jitter) {
            out.push_back(press(PointerButton::left()));
            finger.dragging = true;
            if (!finger.consumed)
                out.push_back(pointToFinger(sample.location));
        }
    } else if (finger.moved) {
        if (!finger.scrolling) {
            finger.scrolling = true;
        } else {
            Size movement = sample.location - finger.last;
            double dt = std::max(sample.time - finger.lastTime, shortestInterval);
            finger.velocity = {0.4 * finger.velocity.dx + 0.6 * movement.width / dt,
                               0.4 * finger.velocity.dy + 0.6 * movement.height / dt};
            if (movement.width != 0 || movement.height != 0)
                out.push_back(GestureOutput::scroll(movement));
        }
    }
    finger.last = sample.location;
    finger.lastTime = sample.time;
    return out;
}

std::vector<GestureOutput> TouchGestureEngine::twoFingersMoved(TwoFinger& fingers) {
    Point c = centroid();
    double d = twoFingerDistance();
    Outputs out;
    switch (fingers.intent) {
    case TwoFingerIntent::undecided:
        if (std::fabs(d - fingers.startDistance) > pinchChange) {
            fingers.intent = TwoFingerIntent::pinch;
        } else if (distance(fingers.startCentroid, c) > scrollStart) {
            fingers.intent = TwoFingerIntent::scroll;
        }
        break;
    case TwoFingerIntent::scroll: {
        Size movement = c - fingers.lastCentroid;
        out.push_back(GestureOutput::input(InputEvent::scroll(
            toFloat(twoFingerScrollGain * movement.width), toFloat(twoFingerScrollGain * movement.height))));
        break;
    }
    case TwoFingerIntent::pinch:
        if (fingers.lastDistance > zoomFloor)
            out.push_back(GestureOutput::zoom(d / fingers.lastDistance, c));
        if (c != fingers.lastCentroid)
            out.push_back(GestureOutput::pan(c - fingers.lastCentroid));
        break;
    }
    fingers.lastCentroid = c;
    fingers.lastDistance = d;
    return out;
}

std::vector<GestureOutput> TouchGestureEngine::touchEnded(const TouchSample& sample, bool cancelled) {
    Outputs out;
    if (auto* finger = std::get_if<OneFinger>(&state_)) {
        if (sample.id == finger->id) {
            OneFinger lifted = *finger;
            state_ = Finishing{};
            out = oneFingerLifted(lifted, sample.time, cancelled);
        }
    } else if (auto* fingers = std::get_if<TwoFinger>(&state_)) {
        bool isTap = !cancelled && fingers->intent == TwoFingerIntent::undecided &&
                     sample.time - fingers->startTime <= tapTime;
        state_ = Finishing{};
        if (isTap)
            out = {press(PointerButton::right()), release(PointerButton::right())};
    } else if (std::holds_alternative<ThreeFingerPan>(state_)) {
        state_ = Finishing{};
    }
    if (touches_.empty())
        state_ = Idle{};
    return out;
}

std::vector<GestureOutput> TouchGestureEngine::oneFingerLifted(const OneFinger& finger, double time,
                                                               bool cancelled) {
    if (finger.dragging)
        return {release(PointerButton::left())};
    if (cancelled)
        return {};
    if (finger.scrolling) {
        if (time - finger.lastTime < coastRecency && finger.velocity.length() > coastSpeed) {
            return {GestureOutput::coast(finger.velocity)};
        }
        return {};
    }
    // A hold armed a drag that never started: a secondary click.
    if (finger.armed)
        return tapOutputs(PointerButton::right(), finger.radius);
    if (!finger.moved && !finger.consumed && time - finger.startTime <= tapTime) {
        if (mode_ == TouchMode::trackpad)
            return {press(PointerButton::left()), release(PointerButton::left())};
        return tapOutputs(PointerButton::left(), finger.radius);
    }
    return {};
}

std::vector<GestureOutput> TouchGestureEngine::holdElapsed(double now) {
    auto* finger = std::get_if<OneFinger>(&state_);
    if (!finger || !isUsable(now) || finger->moved || finger->dragging || finger->consumed)
        return {};
    double held = now - finger->startTime;
    if (mode_ == TouchMode::trackpad) {
        if (held < dragArmTime)
            return {};
        finger->dragging = true;
        return {GestureOutput::longPressRecognized(), press(PointerButton::left())};
    }
    if (oneFingerScrolls_) {
        if (finger->armed || held < dragArmTime)
            return {};
        finger->armed = true;
        return {GestureOutput::longPressRecognized()};
    }
    if (held < longPressTime)
        return {};
    finger->consumed = true;
    Outputs out{GestureOutput::longPressRecognized()};
    for (GestureOutput& tap : tapOutputs(PointerButton::right(), finger->radius))
        out.push_back(std::move(tap));
    return out;
}

Point TouchGestureEngine::centroid() const {
    if (touches_.empty())
        return {};
    Point sum;
    for (const auto& [id, location] : touches_) {
        sum.x += location.x;
        sum.y += location.y;
    }
    auto count = static_cast<double>(touches_.size());
    return {sum.x / count, sum.y / count};
}

double TouchGestureEngine::twoFingerDistance() const {
    if (touches_.size() < 2)
        return 0;
    auto first = touches_.begin();
    return distance(first->second, std::next(first)->second);
}

GestureOutput TouchGestureEngine::pointToFinger(Point location) {
    pointer_ = viewport_.normalizedPoint(location);
    return GestureOutput::input(InputEvent::pointerMove(toFloat(pointer_.x), toFloat(pointer_.y)));
}

void TouchGestureEngine::movePointerLikeATrackpad(Size movement, double dt) {
    double speed = std::hypot(movement.width, movement.height) / std::max(dt, shortestInterval);
    // Slow movement is fine control (0.9 remote points per view point); fast movement travels far.
    double gain = std::clamp(speed / 700 + 0.9, 0.9, 3.5);
    pointer_.x =
        std::clamp(pointer_.x + movement.width * gain / lengthOrOne(remotePointSize_.width), 0.0, 1.0);
    pointer_.y =
        std::clamp(pointer_.y + movement.height * gain / lengthOrOne(remotePointSize_.height), 0.0, 1.0);
}

// A tap where the finger is: as one tap event with the touch radius in remote points when the host
// snaps taps onto controls, else as a press and a release.
std::vector<GestureOutput> TouchGestureEngine::tapOutputs(PointerButton button, double radius) const {
    if (!hostFindsTapTargets_)
        return {press(button), release(button)};
    double r = radius > 0 ? radius : defaultReachRadius;
    double remoteWidth = isUsable(remotePointSize_.width) ? remotePointSize_.width : 0;
    double reach = r * remoteWidth / lengthOrOne(viewport_.displayedSize().width);
    return {GestureOutput::input(InputEvent::tap(button, toFloat(reach)))};
}

} // namespace velm
