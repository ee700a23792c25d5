#include "input/client/PencilGestureEngine.h"

#include <algorithm>

namespace velm {

std::vector<PencilOutput> PencilGestureEngine::began(Point location, double time, PencilMode mode,
                                                     bool isWritingStroke) {
    // A new stroke replaces whatever was left, but a held button is let go first: otherwise the
    // host would keep it down with nothing left to release it.
    std::vector<PencilOutput> out = cancelled();
    if (!isUsable(location) || !isUsable(time))
        return out;
    if (isWritingStroke) {
        state_ = Writing{location};
    } else if (mode == PencilMode::pointer) {
        state_ = Dragging{};
        out.push_back(PencilOutput::moveTo(location));
        out.push_back(PencilOutput::buttonDown());
    } else {
        state_ = Pending{location, time};
        out.push_back(PencilOutput::moveTo(location));
    }
    return out;
}

std::vector<PencilOutput> PencilGestureEngine::moved(Point location, double time) {
    if (!isUsable(location) || !isUsable(time))
        return {};
    std::vector<PencilOutput> out;
    if (auto* writing = std::get_if<Writing>(&state_)) {
        if (distance(writing->start, location) > slop)
            writing->wandered = true;
    } else if (auto* pending = std::get_if<Pending>(&state_)) {
        if (distance(pending->start, location) > slop)
            state_ = Scrolling{location, time, {}};
    } else if (auto* scrolling = std::get_if<Scrolling>(&state_)) {
        Size delta = location - scrolling->last;
        double dt = std::max(time - scrolling->time, shortestInterval);
        scrolling->velocity = {0.4 * scrolling->velocity.dx + 0.6 * delta.width / dt,
                               0.4 * scrolling->velocity.dy + 0.6 * delta.height / dt};
        scrolling->last = location;
        scrolling->time = time;
        if (delta.width != 0 || delta.height != 0)
            out.push_back(PencilOutput::scroll(delta));
    } else if (std::holds_alternative<Dragging>(state_)) {
        out.push_back(PencilOutput::moveTo(location));
    }
    return out;
}

std::vector<PencilOutput> PencilGestureEngine::ended(Point location, double time) {
    // A lift that cannot be placed in space or time ends the stroke like a cancel.
    if (!isUsable(location) || !isUsable(time))
        return cancelled();
    std::vector<PencilOutput> out;
    if (auto* writing = std::get_if<Writing>(&state_)) {
        if (!writing->wandered) {
            out.push_back(PencilOutput::moveTo(writing->start));
            out.push_back(PencilOutput::click());
        }
    } else if (auto* pending = std::get_if<Pending>(&state_)) {
        // A tap clicks where the stylus first touched, not where it left.
        out.push_back(PencilOutput::moveTo(pending->start));
        out.push_back(PencilOutput::click());
    } else if (auto* scrolling = std::get_if<Scrolling>(&state_)) {
        if (time - scrolling->time < coastRecency && scrolling->velocity.length() > coastSpeed) {
            out.push_back(PencilOutput::coast(scrolling->velocity));
        }
    } else if (std::holds_alternative<Dragging>(state_)) {
        out.push_back(PencilOutput::moveTo(location));
        out.push_back(PencilOutput::buttonUp());
    }
    state_ = Idle{};
    return out;
}

std::vector<PencilOutput> PencilGestureEngine::cancelled() {
    std::vector<PencilOutput> out;
    if (std::holds_alternative<Dragging>(state_))
        out.push_back(PencilOutput::buttonUp());
    state_ = Idle{};
    return out;
}

std::vector<PencilOutput> PencilGestureEngine::holdElapsed(double now) {
    auto* pending = std::get_if<Pending>(&state_);
    if (!pending || !isUsable(now) || now - pending->since < dragArmTime)
        return {};
    // The pointer is already at the start point from the touch-down.
    state_ = Dragging{};
    return {PencilOutput::buttonDown(), PencilOutput::dragArmed()};
}

} // namespace velm
