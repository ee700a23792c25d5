#pragma once

namespace velm {

// A point in the coordinates of the X root window.
struct ScreenPoint {
    int x = 0;
    int y = 0;

    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

} // namespace velm
