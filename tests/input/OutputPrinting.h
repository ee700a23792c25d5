#pragma once

// Readable test failure messages for engine outputs.

#include "input/GestureOutput.h"
#include "input/PencilOutput.h"

#include <ostream>

namespace velm {

inline std::ostream& operator<<(std::ostream& os, PointerButton button) {
    switch (button.kind()) {
    case PointerButton::Kind::left:
        return os << "left";
    case PointerButton::Kind::right:
        return os << "right";
    case PointerButton::Kind::middle:
        return os << "middle";
    case PointerButton::Kind::other:
        return os << "other(" << int(button.number()) << ")";
    }
    return os;
}

inline void PrintTo(const GestureOutput& output, std::ostream* os) {
    struct Printer {
        std::ostream& os;
        void operator()(const InputEvent& e) const {
            if (auto* m = e.get<InputEvent::PointerMove>())
                os << "pointerMove(" << m->x << ", " << m->y << ")";
            else if (auto* d = e.get<InputEvent::PointerDown>())
                os << "pointerDown(" << d->button << ")";
            else if (auto* u = e.get<InputEvent::PointerUp>())
                os << "pointerUp(" << u->button << ")";
            else if (auto* s = e.get<InputEvent::Scroll>())
                os << "scroll(" << s->dx << ", " << s->dy << ")";
            else if (auto* t = e.get<InputEvent::Tap>())
                os << "tap(" << t->button << ", " << t->reach << ")";
            else
                os << "other input event";
        }
        void operator()(const GestureOutput::Zoom& z) const {
            os << "zoom(" << z.factor << ", " << z.anchor.x << ", " << z.anchor.y << ")";
        }
        void operator()(const GestureOutput::Pan& p) const {
            os << "pan(" << p.movement.width << ", " << p.movement.height << ")";
        }
        void operator()(const GestureOutput::Scroll& s) const {
            os << "viewScroll(" << s.movement.width << ", " << s.movement.height << ")";
        }
        void operator()(const GestureOutput::Coast& c) const {
            os << "coast(" << c.velocity.dx << ", " << c.velocity.dy << ")";
        }
        void operator()(const GestureOutput::LongPressRecognized&) const { os << "longPressRecognized"; }
    };
    std::visit(Printer{*os}, output.value());
}

inline void PrintTo(const PencilOutput& output, std::ostream* os) {
    struct Printer {
        std::ostream& os;
        void operator()(const PencilOutput::MoveTo& m) const {
            os << "moveTo(" << m.location.x << ", " << m.location.y << ")";
        }
        void operator()(const PencilOutput::Scroll& s) const {
            os << "scroll(" << s.movement.width << ", " << s.movement.height << ")";
        }
        void operator()(const PencilOutput::Coast& c) const {
            os << "coast(" << c.velocity.dx << ", " << c.velocity.dy << ")";
        }
        void operator()(const PencilOutput::ButtonDown&) const { os << "buttonDown"; }
        void operator()(const PencilOutput::ButtonUp&) const { os << "buttonUp"; }
        void operator()(const PencilOutput::Click&) const { os << "click"; }
        void operator()(const PencilOutput::DragArmed&) const { os << "dragArmed"; }
    };
    std::visit(Printer{*os}, output.value());
}

} // namespace velm
