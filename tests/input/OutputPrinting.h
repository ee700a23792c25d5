#pragma once

// Readable test failure messages for engine outputs.

#include "input/GestureOutput.h"
#include "input/PencilOutput.h"

#include <ostream>
#include <typeinfo>

namespace velm {

struct OutputPrinter {
    std::ostream& os;
    void operator()(const InputEvent& e) const {
        if (auto* m = e.get<InputEvent::PointerMove>())
            os << "pointerMove(" << m->x << ", " << m->y << ")";
        else if (auto* d = e.get<InputEvent::PointerDown>())
            os << "pointerDown(" << int(d->button.wireByte()) << ")";
        else if (auto* u = e.get<InputEvent::PointerUp>())
            os << "pointerUp(" << int(u->button.wireByte()) << ")";
        else if (auto* t = e.get<InputEvent::Tap>())
            os << "tap(" << int(t->button.wireByte()) << ", " << t->reach << ")";
        else
            os << "input event " << int(e.encoded()[0]);
    }
    void operator()(const GestureOutput::Zoom& z) const {
        os << "zoom(" << z.factor << ", " << z.anchor.x << ", " << z.anchor.y << ")";
    }
    void operator()(const PencilOutput::MoveTo& m) const {
        os << "moveTo(" << m.location.x << ", " << m.location.y << ")";
    }
    void operator()(const auto& other) const {
        if constexpr (requires { other.movement; })
            os << "movement(" << other.movement.width << ", " << other.movement.height << ")";
        else if constexpr (requires { other.velocity; })
            os << "coast(" << other.velocity.dx << ", " << other.velocity.dy << ")";
        else
            os << typeid(other).name();
    }
};

inline void PrintTo(const GestureOutput& o, std::ostream* os) { std::visit(OutputPrinter{*os}, o.value()); }
inline void PrintTo(const PencilOutput& o, std::ostream* os) { std::visit(OutputPrinter{*os}, o.value()); }

} // namespace velm
