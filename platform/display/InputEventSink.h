#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velm {

// Where the host's injected input goes: events made and posted as if a mouse and keyboard of this
// computer produced them. The vocabulary is the injector's own (its virtual key codes, button numbers,
// event types and modifier flags); an implementation turns it into what its desktop understands.
// Called from one serial queue at a time.
class InputEventSink {
public:
    // A point in desktop coordinates (on X11 those of the root window).
    struct Location {
        double x = 0;
        double y = 0;
        friend bool operator==(const Location&, const Location&) = default;
    };

    // The kinds of mouse event. The numbers are the ones the curtain's filter uses for the same kinds.
    enum class MouseType : std::uint8_t {
        leftDown = 1,
        leftUp = 2,
        rightDown = 3,
        rightUp = 4,
        moved = 5,
        leftDragged = 6,
        rightDragged = 7,
        otherDown = 25,
        otherUp = 26,
        otherDragged = 27,
    };

    // `button`: left 0, right 1, middle 2, any other 3 and up. `clickState` is the count of the click
    // run the event belongs to; 0 on moves, which carry none.
    struct MouseEvent {
        MouseType type = MouseType::moved;
        std::uint8_t button = 0;
        Location location;
        std::uint64_t flags = 0;
        int clickState = 0;
    };

    // A key going down or up. As a flags-changed event the key is a modifier key and `flags` holds the
    // modifiers after the change.
    struct KeyEvent {
        std::uint16_t keyCode = 0;
        bool down = false;
        std::uint64_t flags = 0;
    };

    // Distances in points; positive scrolls up (vertical) and left (horizontal).
    struct ScrollEvent {
        std::int32_t vertical = 0;
        std::int32_t horizontal = 0;
        std::uint64_t flags = 0;
    };

    virtual ~InputEventSink() = default;

    virtual void postMouse(const MouseEvent& event) = 0;
    virtual void postKey(const KeyEvent& event) = 0;
    virtual void postFlagsChanged(const KeyEvent& event) = 0;
    virtual void postScroll(const ScrollEvent& event) = 0;
    // Types one user-perceived character (UTF-8) whatever the keyboard layout, as a key down and up
    // that no held modifier changes.
    virtual void postText(std::string_view character) = 0;
    // Puts the pointer at a place without a button event.
    virtual void warp(Location location) = 0;

    // Where the pointer really is; nothing when that cannot be read.
    virtual std::optional<Location> cursorLocation() = 0;
    // Two clicks further apart than this (seconds) are separate clicks.
    virtual double doubleClickInterval() = 0;

    // Lets go of every key and button this computer's injected input holds, whoever pressed them, and
    // undoes what typing text changed: at the end of a session and when the host starts.
    virtual void releaseAll() = 0;
};

} // namespace velm
