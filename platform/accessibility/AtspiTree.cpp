#include "platform/accessibility/AtspiTree.h"

#include "platform/accessibility/AccessibilityStatus.h"
#include "platform/accessibility/AtspiRoles.h"
#include "platform/accessibility/TopLevelWindows.h"
#include "platform/log/Log.h"
#include "platform/x11/X11Connection.h"

#include <algorithm>
#include <atspi/atspi.h>
#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace velm {
namespace {

const Log atspiTreeLog("accessibility");

constexpr const char* focusEvent = "object:state-changed:focused";

using Clock = std::chrono::steady_clock;

// libatspi gives up on a message after the time-out, mostly without saying so: a message that took
// that long got no answer.
bool tookTimeOut(Clock::time_point sent) {
    return Clock::now() - sent >= std::chrono::milliseconds(AtspiTree::timeoutMs);
}

AtspiAccessible* raw(const AccessibleElement& element) {
    return static_cast<AtspiAccessible*>(element.handle());
}

// Takes over one reference to `object`.
AccessibleElement adopt(AtspiAccessible* object) {
    return AccessibleElement(std::shared_ptr<void>(object, [](void* held) { g_object_unref(held); }));
}

std::optional<AccessibleElement> adoptIfAny(AtspiAccessible* object) {
    return object ? std::optional(adopt(object)) : std::nullopt;
}

// A libatspi call's error: logged by nobody, since every failure reads as nothing there.
struct CallError {
    GError* error = nullptr;
    ~CallError() { g_clear_error(&error); }
    bool failed() const { return error != nullptr; }
};

class States {
public:
    explicit States(AtspiAccessible* element) : set_(atspi_accessible_get_state_set(element)) {}
    ~States() {
        if (set_) {
            g_object_unref(set_);
        }
    }
    States(const States&) = delete;
    States& operator=(const States&) = delete;

    bool has(AtspiStateType state) const { return set_ && atspi_state_set_contains(set_, state); }
    // libatspi answers an empty set when it could not read the states: no live element has none.
    bool isUnknown() const {
        if (!set_) {
            return true;
        }
        GArray* states = atspi_state_set_get_states(set_);
        const bool empty = !states || states->len == 0;
        if (states) {
            g_array_free(states, TRUE);
        }
        return empty;
    }

private:
    AtspiStateSet* set_;
};

std::optional<ScreenRect> extentsOf(AtspiAccessible* element) {
    AtspiComponent* component = atspi_accessible_get_component_iface(element);
    if (!component) {
        return std::nullopt;
    }
    CallError error;
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error.error);
    g_object_unref(component);
    std::optional<ScreenRect> frame;
    if (rect && !error.failed() && rect->width >= 0 && rect->height >= 0) {
        frame = ScreenRect{rect->x, rect->y, rect->width, rect->height};
    }
    g_free(rect);
    return frame;
}

std::optional<AtspiRole> roleOf(AtspiAccessible* element) {
    CallError error;
    const AtspiRole role = atspi_accessible_get_role(element, &error.error);
    return error.failed() ? std::nullopt : std::optional(role);
}

// Stops at the first child that got no answer: the others would wait as long.
std::vector<AccessibleElement> childrenOf(AtspiAccessible* element, int limit) {
    CallError error;
    const int count = atspi_accessible_get_child_count(element, &error.error);
    std::vector<AccessibleElement> children;
    for (int index = 0; !error.failed() && index < count && index < limit; ++index) {
        CallError childError;
        const auto sent = Clock::now();
        if (auto child = adoptIfAny(atspi_accessible_get_child_at_index(element, index, &childError.error))) {
            children.push_back(std::move(*child));
        } else if (tookTimeOut(sent)) {
            break;
        }
    }
    return children;
}

std::optional<std::string> busNameOf(AtspiAccessible* element) {
    const AtspiApplication* application = element->parent.app;
    if (!application || !application->bus_name) {
        return std::nullopt;
    }
    return std::string(application->bus_name);
}

// Extents come from other processes: computed wide, so that no value can overflow.
bool contains(const ScreenRect& rect, ScreenPoint point) {
    const long long dx = static_cast<long long>(point.x) - rect.x;
    const long long dy = static_cast<long long>(point.y) - rect.y;
    return dx >= 0 && dy >= 0 && dx < rect.width && dy < rect.height;
}

// How far a window's extents lie from an X window's rectangle; the window an X window shows is the
// one closest to it.
long distance(const ScreenRect& a, const ScreenRect& b) {
    return std::labs(static_cast<long>(a.x) - b.x) + std::labs(static_cast<long>(a.y) - b.y) +
           std::labs(static_cast<long>(a.width) - b.width) +
           std::labs(static_cast<long>(a.height) - b.height);
}

} // namespace

AtspiTree::AtspiTree() = default;

std::unique_ptr<AtspiTree> AtspiTree::open(_GMainContext* context) {
    std::unique_ptr<AtspiTree> tree(new AtspiTree());
    tree->x11_ = X11Connection::open();
    if (tree->x11_) {
        tree->windows_ = std::make_unique<TopLevelWindows>(*tree->x11_);
    }
    // No grace for applications that are still starting: a session must never wait on one.
    atspi_set_timeout(timeoutMs, -1);
    if (atspi_init() > 1) {
        atspiTreeLog.info("no accessibility bus");
        return tree;
    }
    // atspi_init attaches to the default main context; move everything onto this thread's own.
    atspi_set_main_context(context);
    tree->isAvailable_ = true;
    tree->listener_ = atspi_event_listener_new(&AtspiTree::handleFocusEvent, tree.get(), nullptr);
    CallError error;
    if (!atspi_event_listener_register(tree->listener_, focusEvent, &error.error)) {
        atspiTreeLog.info("focus announcements unavailable: %s",
                          error.error ? error.error->message : "refused");
    }
    return tree;
}

AtspiTree::~AtspiTree() {
    if (listener_) {
        atspi_event_listener_deregister(listener_, focusEvent, nullptr);
        g_object_unref(listener_);
    }
    track(nullptr);
}

void AtspiTree::handleFocusEvent(AtspiEvent* event, void* data) {
    auto* tree = static_cast<AtspiTree*>(data);
    if (event->source) {
        if (event->detail1 != 0) {
            tree->track(event->source);
        } else if (event->source == tree->announced_) {
            tree->track(nullptr);
        }
        tree->searchedWindow_.reset();
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

void AtspiTree::track(AtspiAccessible* element) {
    if (element) {
        g_object_ref(element);
    }
    if (announced_) {
        g_object_unref(announced_);
    }
    announced_ = element;
}

std::optional<AccessibleElement> AtspiTree::elementAt(ScreenPoint point) {
    if (!isAvailable_ || !windows_) {
        return std::nullopt;
    }
    const auto topLevel = windows_->at(point);
    if (!topLevel) {
        return std::nullopt;
    }
    auto seen = visitWindows_.find(*topLevel);
    if (seen == visitWindows_.end()) {
        const auto window = windows_->owned(*topLevel);
        seen = visitWindows_
                   .emplace(*topLevel, window ? windowAt(window->pid, window->frame, point) : std::nullopt)
                   .first;
    }
    auto current = seen->second;
    for (int depth = 0; current && depth < maxDepth && mayAsk(raw(*current)); ++depth) {
        AtspiComponent* component = atspi_accessible_get_component_iface(raw(*current));
        if (!component) {
            break;
        }
        CallError error;
        const auto sent = Clock::now();
        AtspiAccessible* next = atspi_component_get_accessible_at_point(
            component, point.x, point.y, ATSPI_COORD_TYPE_SCREEN, &error.error);
        g_object_unref(component);
        noteAnswer(raw(*current), sent);
        if (!next || next == raw(*current)) {
            if (next) {
                g_object_unref(next);
            }
            break;
        }
        current = adopt(next);
    }
    return current;
}

std::optional<AccessibleElement> AtspiTree::windowAt(long pid, const ScreenRect& xFrame, ScreenPoint point) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return std::nullopt;
    }
    const auto applications = childrenOf(desktop, maxApplications);
    g_object_unref(desktop);
    std::optional<AccessibleElement> best;
    long bestDistance = 0;
    for (const auto& application : applications) {
        if (processOf(raw(application)) != pid || !mayAsk(raw(application))) {
            continue;
        }
        auto sent = Clock::now();
        auto windows = childrenOf(raw(application), maxWindowsPerApplication);
        noteAnswer(raw(application), sent);
        for (auto& window : windows) {
            if (!mayAsk(raw(window))) {
                break;
            }
            sent = Clock::now();
            const auto frame = extentsOf(raw(window));
            noteAnswer(raw(window), sent);
            if (!frame || !contains(*frame, point)) {
                continue;
            }
            sent = Clock::now();
            const bool isShowing = States(raw(window)).has(ATSPI_STATE_SHOWING);
            noteAnswer(raw(window), sent);
            if (!isShowing) {
                continue;
            }
            const long d = distance(*frame, xFrame);
            if (!best || d < bestDistance) {
                best = std::move(window);
                bestDistance = d;
            }
        }
    }
    return best;
}

std::optional<AccessibleElement> AtspiTree::focusedElement() {
    if (!isAvailable_) {
        return std::nullopt;
    }
    if (announced_) {
        auto element = adopt(static_cast<AtspiAccessible*>(g_object_ref(announced_)));
        if (holdsFocus(element)) {
            return element;
        }
    }
    // Applications announce every move of the focus; search only when X's focus went elsewhere since
    // the last search, or an announcement came, so that a desktop without focus costs nothing.
    const auto window = windows_ ? windows_->focused() : std::nullopt;
    const unsigned long id = window ? window->id : 0;
    if (searchedWindow_ == id) {
        return std::nullopt;
    }
    searchedWindow_ = id;
    auto found = window ? searchFocus(window->pid) : std::nullopt;
    if (found) {
        track(raw(*found));
    }
    return found;
}

bool AtspiTree::holdsFocus(const AccessibleElement& element) {
    {
        const States states(raw(element));
        if (!states.has(ATSPI_STATE_FOCUSED) || states.has(ATSPI_STATE_DEFUNCT)) {
            return false;
        }
    }
    // Toolkits keep the focus mark on the focused element of a window that is no longer active.
    AccessibleElement window = element;
    for (int depth = 0; depth < maxDepth; ++depth) {
        auto above = parent(window);
        if (!above || roleOf(raw(*above)) == ATSPI_ROLE_APPLICATION) {
            break;
        }
        window = std::move(*above);
    }
    return States(raw(window)).has(ATSPI_STATE_ACTIVE);
}

std::optional<AccessibleElement> AtspiTree::searchFocus(long pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return std::nullopt;
    }
    const auto applications = childrenOf(desktop, maxApplications);
    g_object_unref(desktop);
    // One budget for the whole question: an application may mark many windows active.
    searchedChildren_ = 0;
    for (const auto& application : applications) {
        if (processOf(raw(application)) != pid || !mayAsk(raw(application))) {
            continue;
        }
        auto sent = Clock::now();
        const auto windows = childrenOf(raw(application), maxWindowsPerApplication);
        noteAnswer(raw(application), sent);
        for (const auto& window : windows) {
            if (searchedChildren_ >= maxSearchedElements - 1 || !mayAsk(raw(window))) {
                return std::nullopt;
            }
            sent = Clock::now();
            const bool isActive = States(raw(window)).has(ATSPI_STATE_ACTIVE);
            noteAnswer(raw(window), sent);
            if (!isActive) {
                continue;
            }
            if (auto found = focusedBelow(window)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

std::optional<AccessibleElement> AtspiTree::focusedBelow(const AccessibleElement& window) {
    // Depth first, showing elements only; elements that manage their descendants (long lists, tables)
    // announce their focused item themselves and are not walked. Each child is asked for only when the
    // walk reaches it: a wide element then costs no more messages than the elements the walk visits.
    struct Opened {
        AccessibleElement element;
        int childCount;
        int nextChild = 0;
    };
    std::vector<Opened> opened;
    std::optional<AccessibleElement> next = window;
    while (next && mayAsk(raw(window))) {
        auto sent = Clock::now();
        const States states(raw(*next));
        noteAnswer(raw(*next), sent);
        if (states.has(ATSPI_STATE_FOCUSED)) {
            return next;
        }
        if (std::ssize(opened) < maxDepth && states.has(ATSPI_STATE_SHOWING) &&
            !states.has(ATSPI_STATE_MANAGES_DESCENDANTS)) {
            CallError error;
            sent = Clock::now();
            const int count = atspi_accessible_get_child_count(raw(*next), &error.error);
            noteAnswer(raw(*next), sent);
            if (!error.failed() && count > 0) {
                opened.push_back({std::move(*next), std::min(count, maxChildren)});
            }
        }
        next.reset();
        // The window itself is the first element visited; every child asked for counts as one more.
        while (!next && !opened.empty() && searchedChildren_ < maxSearchedElements - 1 &&
               mayAsk(raw(window))) {
            Opened& last = opened.back();
            if (last.nextChild == last.childCount) {
                opened.pop_back();
                continue;
            }
            CallError childError;
            ++searchedChildren_;
            sent = Clock::now();
            next = adoptIfAny(
                atspi_accessible_get_child_at_index(raw(last.element), last.nextChild++, &childError.error));
            noteAnswer(raw(last.element), sent);
        }
    }
    return std::nullopt;
}

std::optional<AccessibleElement> AtspiTree::parent(const AccessibleElement& element) {
    CallError error;
    AtspiAccessible* above = atspi_accessible_get_parent(raw(element), &error.error);
    if (error.failed() && above) {
        g_object_unref(above);
        return std::nullopt;
    }
    return adoptIfAny(above);
}

std::optional<std::string> AtspiTree::role(const AccessibleElement& element) {
    const auto atspiRole = roleOf(raw(element));
    if (!atspiRole) {
        return std::nullopt;
    }
    // Only text and combo boxes are told apart by their states; the others spare the message.
    const bool dependsOnStates = *atspiRole == ATSPI_ROLE_ENTRY || *atspiRole == ATSPI_ROLE_TEXT ||
                                 *atspiRole == ATSPI_ROLE_EDITBAR || *atspiRole == ATSPI_ROLE_COMBO_BOX;
    if (!dependsOnStates) {
        return AtspiRoles::name(*atspiRole, false, false);
    }
    const States states(raw(element));
    bool isEditable = states.has(ATSPI_STATE_EDITABLE);
    // Qt marks an editable combo box's line edit, not the box that holds the focus.
    if (*atspiRole == ATSPI_ROLE_COMBO_BOX && !isEditable) {
        for (const auto& child : childrenOf(raw(element), maxComboBoxChildren)) {
            isEditable = isEditable || isSelectedTextSettable(child);
        }
    }
    return AtspiRoles::name(*atspiRole, isEditable, states.has(ATSPI_STATE_MULTI_LINE));
}

std::optional<ScreenRect> AtspiTree::frame(const AccessibleElement& element) {
    return extentsOf(raw(element));
}

bool AtspiTree::isEnabled(const AccessibleElement& element) {
    const States states(raw(element));
    return states.isUnknown() || states.has(ATSPI_STATE_ENABLED) || states.has(ATSPI_STATE_SENSITIVE);
}

bool AtspiTree::isSelectedTextSettable(const AccessibleElement& element) {
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(raw(element));
    if (!editable) {
        return false;
    }
    g_object_unref(editable);
    return States(raw(element)).has(ATSPI_STATE_EDITABLE);
}

bool AtspiTree::belongsToThisProcess(const AccessibleElement& element) {
    return processOf(raw(element)) == static_cast<long>(getpid());
}

std::optional<long> AtspiTree::processOf(AtspiAccessible* element) {
    const auto busName = busNameOf(element);
    if (!busName) {
        return std::nullopt;
    }
    if (const auto known = processes_.find(*busName); known != processes_.end()) {
        return known->second;
    }
    CallError error;
    const guint pid = atspi_accessible_get_process_id(element, &error.error);
    if (error.failed() || pid == 0) {
        return std::nullopt;
    }
    if (processes_.size() >= maxRememberedProcesses) {
        processes_.clear();
    }
    processes_.emplace(*busName, static_cast<long>(pid));
    return static_cast<long>(pid);
}

bool AtspiTree::mayAsk(AtspiAccessible* element) const {
    const auto busName = busNameOf(element);
    return !busName || !silentApplications_.contains(*busName);
}

void AtspiTree::noteAnswer(AtspiAccessible* element, std::chrono::steady_clock::time_point sent) {
    if (!tookTimeOut(sent)) {
        return;
    }
    ++timedOutCalls_;
    if (const auto busName = busNameOf(element)) {
        silentApplications_.insert(*busName);
    }
}

void AtspiTree::endVisit() {
    visitWindows_.clear();
    silentApplications_.clear();
    timedOutCalls_ = 0;
}

AccessibilityWake AtspiTree::wakeAccessibility() {
    return AccessibilityStatus::turnOn(std::chrono::milliseconds(timeoutMs));
}

} // namespace velm
