#pragma once

#include "platform/accessibility/AccessibilityWake.h"
#include "platform/accessibility/AccessibleElement.h"
#include "platform/display/ScreenPoint.h"
#include "platform/display/ScreenRect.h"

#include <optional>
#include <string>

namespace velm {

// The desktop's accessibility tree, as tap targeting and the text-focus monitor read it. It is
// used only inside a visit (Accessibility::visit), on the tree's own thread. Coordinates are the X
// root window's. Every question is answered within a bounded time: an application that does not
// answer, or an element that no longer exists, reads as nothing there.
class AccessibleTree {
public:
    virtual ~AccessibleTree() = default;

    // The innermost element under a point, in the topmost window there.
    virtual std::optional<AccessibleElement> elementAt(ScreenPoint point) = 0;
    // The element that holds the keyboard focus in the active window.
    virtual std::optional<AccessibleElement> focusedElement() = 0;
    virtual std::optional<AccessibleElement> parent(const AccessibleElement& element) = 0;

    // The element's role by its "AX…" name ("AXButton", "AXTextField", "AXWindow", ...); roles that
    // have no such name keep the tree's own. Nothing when the role cannot be read.
    virtual std::optional<std::string> role(const AccessibleElement& element) = 0;
    virtual std::optional<ScreenRect> frame(const AccessibleElement& element) = 0;
    // False only when the element says it is disabled.
    virtual bool isEnabled(const AccessibleElement& element) = 0;
    // True when its text and where the caret stands may be changed: an editable text.
    virtual bool isSelectedTextSettable(const AccessibleElement& element) = 0;
    virtual bool belongsToThisProcess(const AccessibleElement& element) = 0;

    // Asks the desktop to switch accessibility on when it is off.
    virtual AccessibilityWake wakeAccessibility() = 0;
};

} // namespace velm
