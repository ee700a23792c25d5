#include "tests/support/FakeAccessibility.h"

namespace velm::test {
namespace {

using Element = FakeAccessibility::Element;

bool contains(const Element& element, ScreenPoint point) {
    return element.frame && element.frame->contains(point.x, point.y);
}

// The topmost of `elements` under the point, and then the topmost of its children, and so on.
Element* deepestAt(const std::vector<std::unique_ptr<Element>>& elements, ScreenPoint point) {
    for (auto element = elements.rbegin(); element != elements.rend(); ++element) {
        if (contains(**element, point)) {
            Element* inner = deepestAt((*element)->children, point);
            return inner ? inner : element->get();
        }
    }
    return nullptr;
}

} // namespace

Element& FakeAccessibility::add(Element* parent, std::optional<std::string> role, ScreenRect frame) {
    auto element = std::make_unique<Element>();
    element->role = std::move(role);
    element->frame = frame;
    element->parent = parent;
    auto& siblings = parent ? parent->children : windows_;
    siblings.push_back(std::move(element));
    return *siblings.back();
}

void FakeAccessibility::releaseVisits() {
    while (!held_.empty()) {
        Visit next = std::move(held_.front());
        held_.pop_front();
        next(*this);
    }
}

void FakeAccessibility::visit(Visit visit) {
    ++visits_;
    if (isHolding_) {
        held_.push_back(std::move(visit));
    } else {
        visit(*this);
    }
}

AccessibleElement FakeAccessibility::handle(Element& element) {
    // Not owning: the elements live as long as the fake.
    return AccessibleElement(std::shared_ptr<void>(std::shared_ptr<void>(), &element));
}

Element& FakeAccessibility::of(const AccessibleElement& element) {
    return *static_cast<Element*>(element.handle());
}

std::optional<AccessibleElement> FakeAccessibility::elementAt(ScreenPoint point) {
    ++hitTests_;
    now_ += hitTestCost_;
    Element* found = deepestAt(windows_, point);
    return found ? std::optional(handle(*found)) : std::nullopt;
}

std::optional<AccessibleElement> FakeAccessibility::focusedElement() {
    return focused_ ? std::optional(handle(*focused_)) : std::nullopt;
}

std::optional<AccessibleElement> FakeAccessibility::parent(const AccessibleElement& element) {
    Element* above = of(element).parent;
    return above ? std::optional(handle(*above)) : std::nullopt;
}

std::optional<std::string> FakeAccessibility::role(const AccessibleElement& element) {
    return of(element).role;
}

std::optional<ScreenRect> FakeAccessibility::frame(const AccessibleElement& element) {
    return of(element).frame;
}

bool FakeAccessibility::isEnabled(const AccessibleElement& element) {
    return of(element).isEnabled;
}

bool FakeAccessibility::isSelectedTextSettable(const AccessibleElement& element) {
    return of(element).isSelectedTextSettable;
}

bool FakeAccessibility::belongsToThisProcess(const AccessibleElement& element) {
    return of(element).isOwnProcess;
}

AccessibilityWake FakeAccessibility::wakeAccessibility() {
    ++wakeRequests_;
    return wakeAnswer_;
}

} // namespace velm::test
