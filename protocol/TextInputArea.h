#pragma once

#include "protocol/json/JsonRecord.h"

namespace velm {

// Where the focused text field lies in the streamed picture, as fractions of the streamed
// area's width and height, measured from its top-left corner.
struct TextInputArea {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    static void fields(auto& visit, auto&... self) {
        visit("x", self.x...);
        visit("y", self.y...);
        visit("width", self.width...);
        visit("height", self.height...);
    }

    friend bool operator==(const TextInputArea& a, const TextInputArea& b) { return fieldsEqual(a, b); }
};

} // namespace velm
