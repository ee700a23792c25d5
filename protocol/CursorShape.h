#pragma once

#include "platform/core/Bytes.h"
#include "protocol/json/JsonRecord.h"

namespace velm {

// The host's current pointer image; sizes and the hot spot in points, from the top-left corner.
struct CursorShape {
    Bytes png;
    double width = 0;
    double height = 0;
    double hotSpotX = 0;
    double hotSpotY = 0;

    static void fields(auto& visit, auto&... self) {
        visit("png", self.png...);
        visit("width", self.width...);
        visit("height", self.height...);
        visit("hotSpotX", self.hotSpotX...);
        visit("hotSpotY", self.hotSpotY...);
    }

    friend bool operator==(const CursorShape& a, const CursorShape& b) { return fieldsEqual(a, b); }
};

} // namespace velm
