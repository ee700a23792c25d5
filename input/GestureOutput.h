#pragma once

#include "input/Geometry.h"
#include "protocol/InputEvent.h"

#include <concepts>
#include <type_traits>
#include <utility>
#include <variant>

namespace velm {

// One result of the touch gesture engine: an input event for the host, or a change to the client's
// own view of the picture.
class GestureOutput {
public:
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

    using Value = std::variant<InputEvent, Zoom, Pan, Scroll, Coast, LongPressRecognized>;

    template <typename Alternative>
    requires(!std::same_as<std::remove_cvref_t<Alternative>, GestureOutput> &&
             std::is_constructible_v<Value, Alternative&&>) GestureOutput(Alternative&& value)
        : value_(std::forward<Alternative>(value)) {}

    static GestureOutput input(InputEvent event) { return GestureOutput(std::move(event)); }
    static GestureOutput zoom(double factor, Point anchor) { return Zoom{factor, anchor}; }
    static GestureOutput pan(Size movement) { return Pan{movement}; }
    static GestureOutput scroll(Size movement) { return Scroll{movement}; }
    static GestureOutput coast(Vector velocity) { return Coast{velocity}; }
    static GestureOutput longPressRecognized() { return LongPressRecognized{}; }

    const Value& value() const { return value_; }
    // The output's fields when it is of that case, else null.
    template <typename Alternative> const Alternative* get() const {
        return std::get_if<Alternative>(&value_);
    }

    friend bool operator==(const GestureOutput&, const GestureOutput&) = default;

private:
    Value value_;
};

} // namespace velm
