#pragma once

// Readable test failure messages for engine outputs.

#include "input/client/GestureOutput.h"
#include "input/client/PencilOutput.h"

#include <ostream>
#include <typeinfo>

namespace velm {

struct OutputPrinter {
    std::ostream& os;
    void operator()(const InputEvent& event) const {
        os << "input event";
        for (std::uint8_t byte : event.encoded()) {
            os << ' ' << int(byte);
        }
    }
    void operator()(const auto& other) const {
        os << typeid(other).name();
        if constexpr (requires { other.location; })
            os << " at " << other.location.x << ", " << other.location.y;
        if constexpr (requires { other.movement; })
            os << " by " << other.movement.width << ", " << other.movement.height;
        if constexpr (requires { other.velocity; })
            os << " at " << other.velocity.dx << ", " << other.velocity.dy << " per second";
        if constexpr (requires { other.factor; })
            os << " times " << other.factor << " around " << other.anchor.x << ", " << other.anchor.y;
    }
};

inline void PrintTo(const GestureOutput& o, std::ostream* os) {
    std::visit(OutputPrinter{*os}, o.value());
}
inline void PrintTo(const PencilOutput& o, std::ostream* os) {
    std::visit(OutputPrinter{*os}, o.value());
}

} // namespace velm
