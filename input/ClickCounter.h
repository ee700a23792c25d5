#pragma once

#include "input/Geometry.h"

#include <cstdint>
#include <optional>

namespace velm {

// Counts multi-clicks: a click of the same button soon enough after the previous one and close
// enough to it continues the run (double, triple and longer clicks); anything else starts anew.
class ClickCounter {
public:
    // intervalSeconds: two clicks further apart in time are separate; slop: two clicks this far apart
    // (points) or further are separate.
    ClickCounter(double intervalSeconds, double slop);

    // Records one click of a button number at a place and a time (seconds).
    void registerClick(std::uint8_t button, double x, double y, double time);

    // The count given to the last click; 1 when there was none.
    int count() const;

    double interval() const { return interval_; }
    double slop() const { return slop_; }

private:
    struct Click {
        std::uint8_t button;
        double time;
        Point position;
        int count;
    };

    bool continuesRun(std::uint8_t button, Point position, double time) const;

    double interval_;
    double slop_;
    std::optional<Click> last_;
};

} // namespace velm
