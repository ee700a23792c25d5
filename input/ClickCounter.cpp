#include "input/ClickCounter.h"

#include <cmath>
#include <limits>

namespace velm {

ClickCounter::ClickCounter(double intervalSeconds, double slop) : interval_(intervalSeconds), slop_(slop) {}

void ClickCounter::registerClick(std::uint8_t button, double x, double y, double time) {
    Point position{x, y};
    // A click at a broken place or time (the wire can carry NaN and infinities) cannot be measured
    // against the next one: it ends the run and is not remembered.
    if (!std::isfinite(time) || !std::isfinite(x) || !std::isfinite(y)) {
        last_.reset();
        return;
    }
    int newCount = 1;
    if (continuesRun(button, position, time)) {
        // A client can click forever; the count stops at the largest value instead of wrapping.
        newCount = last_->count == std::numeric_limits<int>::max() ? last_->count : last_->count + 1;
    }
    last_ = Click{button, time, position, newCount};
}

int ClickCounter::count() const {
    return last_ ? last_->count : 1;
}

bool ClickCounter::continuesRun(std::uint8_t button, Point position, double time) const {
    return last_ && last_->button == button && last_->time <= time && time - last_->time <= interval_ &&
           distance(last_->position, position) < slop_;
}

} // namespace velm
