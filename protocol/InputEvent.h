#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/CaseValue.h"
#include "protocol/Modifier.h"
#include "protocol/PointerButton.h"

#include <cstdint>
#include <string>
#include <utility>

namespace velm {

// The cases of InputEvent.
struct InputEventCases {
    struct PointerMove {
        float x;
        float y;
        friend bool operator==(const PointerMove&, const PointerMove&) = default;
    };
    struct PointerDown {
        PointerButton button;
        friend bool operator==(const PointerDown&, const PointerDown&) = default;
    };
    struct PointerUp {
        PointerButton button;
        friend bool operator==(const PointerUp&, const PointerUp&) = default;
    };
    struct Scroll {
        float dx;
        float dy;
        friend bool operator==(const Scroll&, const Scroll&) = default;
    };
    struct KeyDown {
        std::uint16_t hidUsage;
        friend bool operator==(const KeyDown&, const KeyDown&) = default;
    };
    struct KeyUp {
        std::uint16_t hidUsage;
        friend bool operator==(const KeyUp&, const KeyUp&) = default;
    };
    struct ModifierDown {
        Modifier modifier;
        friend bool operator==(const ModifierDown&, const ModifierDown&) = default;
    };
    struct ModifierUp {
        Modifier modifier;
        friend bool operator==(const ModifierUp&, const ModifierUp&) = default;
    };
    // Texts are equal when canonically equivalent.
    struct TextInput {
        std::string text;
        friend bool operator==(const TextInput& a, const TextInput& b);
    };
    struct Tap {
        PointerButton button;
        float reach; // points within which the host may move the tap onto a control
        friend bool operator==(const Tap&, const Tap&) = default;
    };
};

// One message of the input channel: a tag byte, then fixed big-endian fields.
// Positions are fractions of the remote display, scroll distances and reach
// are in points, keys are USB HID keyboard usages. The cases are in wire
// order: a case's index plus one is its tag.
class InputEvent
    : public InputEventCases,
      public CaseValue<InputEventCases::PointerMove, InputEventCases::PointerDown, InputEventCases::PointerUp,
                       InputEventCases::Scroll, InputEventCases::KeyDown, InputEventCases::KeyUp,
                       InputEventCases::ModifierDown, InputEventCases::ModifierUp, InputEventCases::TextInput,
                       InputEventCases::Tap> {
public:
    using CaseValue::CaseValue;

    static InputEvent pointerMove(float x, float y) { return PointerMove{x, y}; }
    static InputEvent pointerDown(PointerButton button) { return PointerDown{button}; }
    static InputEvent pointerUp(PointerButton button) { return PointerUp{button}; }
    static InputEvent scroll(float dx, float dy) { return Scroll{dx, dy}; }
    static InputEvent keyDown(std::uint16_t hidUsage) { return KeyDown{hidUsage}; }
    static InputEvent keyUp(std::uint16_t hidUsage) { return KeyUp{hidUsage}; }
    static InputEvent modifierDown(Modifier modifier) { return ModifierDown{modifier}; }
    static InputEvent modifierUp(Modifier modifier) { return ModifierUp{modifier}; }
    static InputEvent textInput(std::string text) { return TextInput{std::move(text)}; }
    static InputEvent tap(PointerButton button, float reach) { return Tap{button, reach}; }

    // The tag byte and fields. A text over 65535 UTF-8 bytes is cut after its
    // last whole character that fits.
    Bytes encoded() const;
    // Reads an event from a frame payload; bytes after the last field are
    // ignored. Throws WireError.
    static InputEvent decoding(ByteView payload);
};

} // namespace velm
