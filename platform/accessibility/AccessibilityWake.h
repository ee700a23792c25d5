#pragma once

namespace velm {

// What came of asking the desktop to switch its accessibility on, so that applications that expose
// their elements only on demand (Qt's, among others) start doing so.
enum class AccessibilityWake {
    // It was on already; nothing was changed.
    alreadyOn,
    turnedOn,
    // No one answered (no accessibility bus, a refusal, a time-out).
    unavailable,
};

} // namespace velm
