#pragma once

#include "platform/display/ScreenRect.h"

namespace velm::test::AccessibleWindowLayout {

// Where the accessibility tests' window and its widgets lie on the sandbox's screen. Without a window
// manager nothing moves them.
inline constexpr ScreenRect window{100, 100, 400, 300};
// Empty space lies to the left of the button.
inline constexpr ScreenRect button{window.x + 60, window.y + 40, 40, 24};
inline constexpr ScreenRect field{window.x + 140, window.y + 40, 200, 28};
// Editable: it takes typing as well as choices.
inline constexpr ScreenRect comboBox{window.x + 140, window.y + 100, 200, 28};

// Run with this argument, the window also holds two panels crowded with labels, below the widgets
// above, and the second panel's first widget, a line edit, takes the keyboard focus.
inline constexpr const char* crowdedArgument = "--crowded";
inline constexpr int labelsPerPanel = 250;
inline constexpr ScreenRect crowdedField{window.x + 140, window.y + 200, 200, 28};

// Run with this argument, the application first shows windows beside the main one, each crowded with
// labels and each claiming to be active, though the main window keeps the keyboard focus. They lie
// `beside` the main window, each a little right of the one before.
inline constexpr const char* activeWindowsArgument = "--active-windows";
inline constexpr int activeWindows = 3;
inline constexpr ScreenRect beside{window.x + window.width, window.y, 200, 200};

} // namespace velm::test::AccessibleWindowLayout
