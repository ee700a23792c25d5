#pragma once

#include "platform/accessibility/AccessibleTree.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

struct _AtspiAccessible;
struct _AtspiEvent;
struct _AtspiEventListener;
struct _GMainContext;

namespace velm {

class TopLevelWindows;
class X11Connection;

// The accessibility tree through libatspi, with an X connection of its own to find the window under
// a point and the one that holds the focus. Made, used and dropped on the accessibility thread only.
//
// An element at a point: the topmost X window there and its owner's process, that process's
// application on the accessibility bus, its window under the point, and then one level at a time down
// through "the child at this point". The focused element: the last one that announced it took the
// focus, as long as it still holds it in an active window; else, once per change of X's focused
// window, a bounded search of that window's application.
class AtspiTree final : public AccessibleTree {
public:
    // Every message to the accessibility bus or an application waits at most this long for its answer.
    static constexpr int timeoutMs = 250;
    // Bounds on what one question may walk through, against applications with huge or looping trees.
    static constexpr int maxApplications = 256;
    static constexpr int maxWindowsPerApplication = 64;
    static constexpr int maxDepth = 32;
    static constexpr int maxSearchedElements = 400;
    static constexpr int maxChildren = 256;
    static constexpr int maxComboBoxChildren = 4;
    static constexpr std::size_t maxRememberedProcesses = 256;

    // Connects to the accessibility bus and has libatspi deliver its messages through `context`, the
    // accessibility thread's own. Without a bus every question is answered with nothing.
    static std::unique_ptr<AtspiTree> open(_GMainContext* context);
    ~AtspiTree() override;
    AtspiTree(const AtspiTree&) = delete;
    AtspiTree& operator=(const AtspiTree&) = delete;

    std::optional<AccessibleElement> elementAt(ScreenPoint point) override;
    std::optional<AccessibleElement> focusedElement() override;
    std::optional<AccessibleElement> parent(const AccessibleElement& element) override;
    std::optional<std::string> role(const AccessibleElement& element) override;
    std::optional<ScreenRect> frame(const AccessibleElement& element) override;
    bool isEnabled(const AccessibleElement& element) override;
    bool isSelectedTextSettable(const AccessibleElement& element) override;
    bool belongsToThisProcess(const AccessibleElement& element) override;
    AccessibilityWake wakeAccessibility() override;

    // Forgets what the visit that just ended learnt: the desktop may change before the next.
    void endVisit();

    // How many children the last search for the focused element asked for, over all its windows; for
    // the tests of its bounds.
    int searchedChildren() const { return searchedChildren_; }
    // How many messages of the current visit got no answer in time; for the tests of the bound on
    // frozen applications.
    int timedOutCalls() const { return timedOutCalls_; }

private:
    AtspiTree();

    static void handleFocusEvent(_AtspiEvent* event, void* tree);
    void track(_AtspiAccessible* element);

    std::optional<AccessibleElement> windowAt(long pid, const ScreenRect& xFrame, ScreenPoint point);
    std::optional<AccessibleElement> searchFocus(long pid);
    std::optional<AccessibleElement> focusedBelow(const AccessibleElement& window);
    bool holdsFocus(const AccessibleElement& element);
    std::optional<long> processOf(_AtspiAccessible* element);
    bool mayAsk(_AtspiAccessible* element) const;
    void noteAnswer(_AtspiAccessible* element, std::chrono::steady_clock::time_point sent);

    // Whether libatspi reached the accessibility bus; without it no call of libatspi may be made.
    bool isAvailable_ = false;
    std::unique_ptr<X11Connection> x11_;
    std::unique_ptr<TopLevelWindows> windows_;
    _AtspiEventListener* listener_ = nullptr;
    // The element that last announced it took the focus (a reference of ours), or null.
    _AtspiAccessible* announced_ = nullptr;
    // X's focused top-level window when the focus was last searched for; an announcement clears it.
    std::optional<unsigned long> searchedWindow_;
    // Applications' processes by their unique bus names, which the bus never hands out twice.
    std::map<std::string, long> processes_;
    // Within one visit, the accessible window of each X top-level window met: a tap's probes mostly
    // land in the window of the tap.
    std::map<unsigned long, std::optional<AccessibleElement>> visitWindows_;
    // Children asked for by the last focus search.
    int searchedChildren_ = 0;
    // Within one visit, the unique bus names of applications that let a message time out: each other
    // message to a frozen application would wait as long, so it counts as not answering until the
    // visit ends.
    std::set<std::string> silentApplications_;
    int timedOutCalls_ = 0;
};

} // namespace velm
