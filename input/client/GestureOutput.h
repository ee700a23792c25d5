#pragma once

#include "input/Geometry.h"
#include "platform/core/CaseValue.h"
#include "protocol/InputEvent.h"

#include <utility>

namespace velm {

// The cases of GestureOutput.
struct GestureOutputCases {
    // Multiply the view's zoom by `factor` around `anchor` (view points).
    struct Zoom {
        double factor;
        Point anchor;
        friend bool operator==(const Zoom&, const Zoom&) = default;
    };
    // Move the picture by this many view points.
    struct Pan {
        Size movement;
        friend bool operator==(const Pan&, const Pan&) = default;
    };
    // A one-finger scroll movement of this many view points since the previous sample.
    struct Scroll {
        Size movement;
        friend bool operator==(const Scroll&, const Scroll&) = default;
    };
    // The finger left the glass while scrolling fast; view points per second.
    struct Coast {
        Vector velocity;
        friend bool operator==(const Coast&, const Coast&) = default;
    };
    // A hold was recognised: the client may give feedback.
    struct LongPressRecognized {
        friend bool operator==(const LongPressRecognized&, const LongPressRecognized&) = default;
    };
};

// One result of the touch gesture engine: an input event for the host, or a change to the client's
// own view of the picture.
class GestureOutput : public GestureOutputCases,
                      public CaseValue<InputEvent, GestureOutputCases::Zoom, GestureOutputCases::Pan,
                                       GestureOutputCases::Scroll, GestureOutputCases::Coast,
                                       GestureOutputCases::LongPressRecognized> {
public:
    using CaseValue::CaseValue;

    static GestureOutput input(InputEvent event) { return GestureOutput(std::move(event)); }
    static GestureOutput zoom(double factor, Point anchor) { return Zoom{factor, anchor}; }
    static GestureOutput pan(Size movement) { return Pan{movement}; }
    static GestureOutput scroll(Size movement) { return Scroll{movement}; }
    static GestureOutput coast(Vector velocity) { return Coast{velocity}; }
    static GestureOutput longPressRecognized() { return LongPressRecognized{}; }
};

} // namespace velm
