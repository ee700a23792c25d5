#pragma once

#include "platform/accessibility/AccessibilityWake.h"

#include <chrono>

namespace velm {

// The desktop's accessibility switch: org.a11y.Status.IsEnabled of the accessibility bus launcher
// on the session bus. Toolkits that expose their elements only while it is on (Qt's) watch it.
namespace AccessibilityStatus {

// Turns the switch on when it is off. Each message waits at most `timeout` for its answer, and the
// connection a few seconds for its set-up (a frozen bus is given up on); without a session bus nothing
// is tried (and no bus is launched).
AccessibilityWake turnOn(std::chrono::milliseconds timeout);

} // namespace AccessibilityStatus

} // namespace velm
