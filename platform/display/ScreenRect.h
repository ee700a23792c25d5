#pragma once

namespace velm {

// A rectangle in the coordinates of the X root window: pixels from its top-left corner.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool contains(int pointX, int pointY) const {
        return pointX >= x && pointY >= y && pointX - x < width && pointY - y < height;
    }

    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

} // namespace velm
