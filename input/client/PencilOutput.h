#pragma once

#include "input/Geometry.h"
#include "platform/core/CaseValue.h"

#include <utility>

namespace velm {

// The cases of PencilOutput.
struct PencilOutputCases {
    struct MoveTo {
        Point location;
        friend bool operator==(const MoveTo&, const MoveTo&) = default;
    };
    // Scroll by this movement since the previous sample.
    struct Scroll {
        Size movement;
        friend bool operator==(const Scroll&, const Scroll&) = default;
    };
    // The stylus left while scrolling fast; view points per second.
    struct Coast {
        Vector velocity;
        friend bool operator==(const Coast&, const Coast&) = default;
    };
    struct ButtonDown {
        friend bool operator==(const ButtonDown&, const ButtonDown&) = default;
    };
    struct ButtonUp {
        friend bool operator==(const ButtonUp&, const ButtonUp&) = default;
    };
    struct Click {
        friend bool operator==(const Click&, const Click&) = default;
    };
    // A hold started a drag: the client may give feedback.
    struct DragArmed {
        friend bool operator==(const DragArmed&, const DragArmed&) = default;
    };
};

// One result of the pencil gesture engine. Positions are view points; the client maps them onto the
// remote screen and the button outputs onto the primary button.
class PencilOutput
    : public PencilOutputCases,
      public CaseValue<PencilOutputCases::MoveTo, PencilOutputCases::Scroll, PencilOutputCases::Coast,
                       PencilOutputCases::ButtonDown, PencilOutputCases::ButtonUp, PencilOutputCases::Click,
                       PencilOutputCases::DragArmed> {
public:
    using CaseValue::CaseValue;

    static PencilOutput moveTo(Point location) { return MoveTo{location}; }
    static PencilOutput scroll(Size movement) { return Scroll{movement}; }
    static PencilOutput coast(Vector velocity) { return Coast{velocity}; }
    static PencilOutput buttonDown() { return ButtonDown{}; }
    static PencilOutput buttonUp() { return ButtonUp{}; }
    static PencilOutput click() { return Click{}; }
    static PencilOutput dragArmed() { return DragArmed{}; }
};

} // namespace velm
