#pragma once

#include "platform/accessibility/Accessibility.h"
#include "platform/accessibility/AccessibleTree.h"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm::test {

// An accessibility tree of rectangles: windows holding nested elements, each with a role, a frame
// and a few states. Later elements lie on top of earlier ones, as children on top of their parent.
// Visits run at once on the caller's thread, unless the test holds them to release them later.
// Hit tests advance a clock of its own, so that tests can make lookups slow without waiting.
class FakeAccessibility final : public Accessibility, public AccessibleTree {
public:
    using Clock = std::chrono::steady_clock;

    struct Element {
        std::optional<std::string> role;
        // Nothing for an element that will not say where it is.
        std::optional<ScreenRect> frame;
        bool isEnabled = true;
        bool isSelectedTextSettable = false;
        bool isOwnProcess = false;

        Element* parent = nullptr;
        std::vector<std::unique_ptr<Element>> children;
    };

    // A new element on top of the others inside `parent`, or a new topmost window without one.
    Element& add(Element* parent, std::optional<std::string> role, ScreenRect frame);
    // Moves the keyboard focus; null for none.
    void focus(Element* element) { focused_ = element; }
    void setHitTestCost(Clock::duration cost) { hitTestCost_ = cost; }
    void setWakeAnswer(AccessibilityWake answer) { wakeAnswer_ = answer; }
    // Visits wait until released (true), or run at once again (false).
    void holdVisits(bool hold) { isHolding_ = hold; }
    void releaseVisits();
    // Throws the held visits away unrun, as a tree whose thread is stuck drops what it cannot take.
    void dropVisits() { held_.clear(); }

    Clock::time_point now() const { return now_; }
    int hitTests() const { return hitTests_; }
    int visits() const { return visits_; }
    int wakeRequests() const { return wakeRequests_; }

    void visit(Visit visit) override;

    std::optional<AccessibleElement> elementAt(ScreenPoint point) override;
    std::optional<AccessibleElement> focusedElement() override;
    std::optional<AccessibleElement> parent(const AccessibleElement& element) override;
    std::optional<std::string> role(const AccessibleElement& element) override;
    std::optional<ScreenRect> frame(const AccessibleElement& element) override;
    bool isEnabled(const AccessibleElement& element) override;
    bool isSelectedTextSettable(const AccessibleElement& element) override;
    bool belongsToThisProcess(const AccessibleElement& element) override;
    AccessibilityWake wakeAccessibility() override;

private:
    static AccessibleElement handle(Element& element);
    static Element& of(const AccessibleElement& element);

    std::vector<std::unique_ptr<Element>> windows_;
    Element* focused_ = nullptr;
    Clock::time_point now_{};
    Clock::duration hitTestCost_{};
    AccessibilityWake wakeAnswer_ = AccessibilityWake::turnedOn;
    bool isHolding_ = false;
    std::deque<Visit> held_;
    int hitTests_ = 0;
    int visits_ = 0;
    int wakeRequests_ = 0;
};

} // namespace velm::test
