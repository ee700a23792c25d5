#pragma once

#include "input/Geometry.h"

#include <concepts>
#include <type_traits>
#include <utility>
#include <variant>

namespace velm {

// One result of the pencil gesture engine. Positions are view points; the client maps them onto the
// remote screen and the button outputs onto the primary button.
class PencilOutput {
public:
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

    using Value = std::variant<MoveTo, Scroll, Coast, ButtonDown, ButtonUp, Click, DragArmed>;

    template <typename Alternative>
    requires(!std::same_as<std::remove_cvref_t<Alternative>, PencilOutput> &&
             std::is_constructible_v<Value, Alternative&&>) PencilOutput(Alternative&& value)
        : value_(std::forward<Alternative>(value)) {}

    static PencilOutput moveTo(Point location) { return MoveTo{location}; }
    static PencilOutput scroll(Size movement) { return Scroll{movement}; }
    static PencilOutput coast(Vector velocity) { return Coast{velocity}; }
    static PencilOutput buttonDown() { return ButtonDown{}; }
    static PencilOutput buttonUp() { return ButtonUp{}; }
    static PencilOutput click() { return Click{}; }
    static PencilOutput dragArmed() { return DragArmed{}; }

    const Value& value() const { return value_; }
    template <typename Alternative> const Alternative* get() const {
        return std::get_if<Alternative>(&value_);
    }

    friend bool operator==(const PencilOutput&, const PencilOutput&) = default;

private:
    Value value_;
};

} // namespace velm
