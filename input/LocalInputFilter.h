#pragma once

#include <array>
#include <cstdint>

namespace velm {

// The rule by which the curtain stops the computer's own input while letting the host's injected
// events through: an event carrying the injected-event marker passes, a local input event of a
// blocked type is dropped, every other event passes.
namespace LocalInputFilter {

// The kinds of local input events the curtain tells apart. The numbers are fixed so that a set of
// kinds fits one 64-bit mask; a platform tap maps its own event kinds onto these (an unknown kind
// passes).
enum class EventType : std::uint32_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    mouseEntered = 8,
    mouseExited = 9,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    systemDefined = 14, // media, brightness and similar keys
    rotate = 18,
    beginGesture = 19,
    endGesture = 20,
    scrollWheel = 22,
    tabletPointer = 23,
    tabletProximity = 24,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
    gesture = 29,
    magnify = 30,
    swipe = 31,
    smartMagnify = 32,
    quickLook = 33,
    pressure = 34,
};

// The user data of every event the host posts: the four ASCII bytes "VELM".
inline constexpr std::int64_t marker = 0x56454C4D;

inline constexpr std::array<EventType, 26> blockedTypes{
    EventType::leftMouseDown,
    EventType::leftMouseUp,
    EventType::rightMouseDown,
    EventType::rightMouseUp,
    EventType::mouseMoved,
    EventType::leftMouseDragged,
    EventType::rightMouseDragged,
    EventType::keyDown,
    EventType::keyUp,
    EventType::flagsChanged,
    EventType::systemDefined,
    EventType::rotate,
    EventType::beginGesture,
    EventType::endGesture,
    EventType::scrollWheel,
    EventType::tabletPointer,
    EventType::tabletProximity,
    EventType::otherMouseDown,
    EventType::otherMouseUp,
    EventType::otherMouseDragged,
    EventType::gesture,
    EventType::magnify,
    EventType::swipe,
    EventType::smartMagnify,
    EventType::quickLook,
    EventType::pressure,
};

// Bit t is set for every blocked type t: what a tap has to listen to.
inline constexpr std::uint64_t eventMask = [] {
    std::uint64_t mask = 0;
    for (EventType type : blockedTypes)
        mask |= std::uint64_t{1} << static_cast<std::uint32_t>(type);
    return mask;
}();

// Runs for every local input event while the curtain is up: no allocation, one mask test.
constexpr bool shouldPass(EventType type, std::int64_t userData) {
    if (userData == marker)
        return true;
    auto bit = static_cast<std::uint32_t>(type);
    return bit >= 64 || (eventMask & (std::uint64_t{1} << bit)) == 0;
}

} // namespace LocalInputFilter

} // namespace velm
