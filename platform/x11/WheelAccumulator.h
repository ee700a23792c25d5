#pragma once

#include <cstdint>

namespace velm {

// Turns scroll distances along one axis into whole wheel clicks, the only scrolling X applications
// hear from a pointer without scroll valuators. What is left over waits for the next distance, so
// that a slow swipe of many small steps scrolls as far as a quick one; turning round starts afresh,
// so the first step back scrolls back at once.
class WheelAccumulator {
public:
    // Toolkits scroll three lines per click, 16 to 20 pixels each at the usual resolution (GTK and
    // Qt alike), so 50 points per click scrolls about as far as the same swipe would locally.
    static constexpr std::int64_t pointsPerClick = 50;
    // A scroll asks for at most this many clicks (2000 points); the rest of a larger one is dropped,
    // so that no single event can keep the server busy.
    static constexpr std::int64_t mostClicks = 40;

    // The clicks to make for `points` more; positive and negative as the points.
    int add(std::int32_t points);

private:
    std::int64_t remainder_ = 0;
};

} // namespace velm
