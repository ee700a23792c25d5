#include "Velm_Host/input/InputInjector.h"

#include "Velm_Host/input/TapTargetSearch.h"
#include "platform/core/Utf8.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/KeyMap.h"
#include "protocol/UnicodeText.h"

#include <cmath>
#include <limits>

namespace velm {
namespace {

const Log inputInjectorLog("input");

using MouseType = InputEventSink::MouseType;

constexpr std::uint16_t returnKeyCode = 36;

// Left 0, right 1, middle 2; any other button its own number from 4 up, else 3.
std::uint8_t buttonNumber(PointerButton button) {
    switch (button.kind()) {
    case PointerButton::Kind::left:
        return 0;
    case PointerButton::Kind::right:
        return 1;
    case PointerButton::Kind::middle:
        return 2;
    case PointerButton::Kind::other:
        break;
    }
    return button.number() >= 4 ? button.number() : 3;
}

MouseType downType(PointerButton button) {
    switch (button.kind()) {
    case PointerButton::Kind::left:
        return MouseType::leftDown;
    case PointerButton::Kind::right:
        return MouseType::rightDown;
    default:
        return MouseType::otherDown;
    }
}

MouseType upType(PointerButton button) {
    switch (button.kind()) {
    case PointerButton::Kind::left:
        return MouseType::leftUp;
    case PointerButton::Kind::right:
        return MouseType::rightUp;
    default:
        return MouseType::otherUp;
    }
}

MouseType draggedType(PointerButton button) {
    switch (button.kind()) {
    case PointerButton::Kind::left:
        return MouseType::leftDragged;
    case PointerButton::Kind::right:
        return MouseType::rightDragged;
    default:
        return MouseType::otherDragged;
    }
}

std::uint64_t flag(Modifier modifier) {
    switch (modifier) {
    case Modifier::command:
        return 0x100000;
    case Modifier::option:
        return 0x80000;
    case Modifier::control:
        return 0x40000;
    case Modifier::shift:
        return 0x20000;
    case Modifier::function:
        return 0x800000;
    case Modifier::capsLock:
        return 0x10000;
    }
    return 0;
}

// Arrow keys carry the numeric-pad and secondary-function flags, function and navigation keys the
// secondary-function flag, as a real keyboard's do.
std::uint64_t extraFlags(std::uint16_t keyCode) {
    if (keyCode >= 123 && keyCode <= 126) {
        return 0xA00000;
    }
    if ((keyCode >= 96 && keyCode <= 111) || (keyCode >= 114 && keyCode <= 122)) {
        return 0x800000;
    }
    return 0;
}

// A scroll distance as whole points, halves away from zero; nothing for one no wheel could turn.
std::optional<std::int32_t> wholePoints(float distance) {
    const double rounded = std::round(double(distance));
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

bool isLineBreak(std::string_view character) {
    return character == "\n" || character == "\r" || character == "\r\n";
}

} // namespace

std::shared_ptr<InputInjector> InputInjector::make(std::unique_ptr<InputEventSink> sink,
                                                   std::shared_ptr<TapTargetSearch> tapTargets) {
    return std::shared_ptr<InputInjector>(new InputInjector(std::move(sink), std::move(tapTargets)));
}

InputInjector::InputInjector(std::unique_ptr<InputEventSink> sink,
                             std::shared_ptr<TapTargetSearch> tapTargets)
    : sink_(std::move(sink)), tapTargets_(std::move(tapTargets)),
      clicks_(sink_->doubleClickInterval(), clickSlop) {}

void InputInjector::setOnPointerPosition(std::function<void(SessionDesktop::PointerFraction)> handler) {
    onPointerPosition_ = std::move(handler);
}

void InputInjector::start(std::shared_ptr<Queue> queue) {
    queue_ = std::move(queue);
}

void InputInjector::setScreen(std::optional<SessionDesktop::Area> area) {
    if (released_ || !queue_) {
        return;
    }
    if (!area || area->width <= 0 || area->height <= 0) {
        // Input without a screen is dropped, the releases of what is held with it.
        letGo();
        displayBounds_.reset();
        ++reportGeneration_;
        return;
    }
    const bool reporting = displayBounds_.has_value();
    displayBounds_ = Rect{{double(area->x), double(area->y)}, {double(area->width), double(area->height)}};
    if (const auto cursor = sink_->cursorLocation()) {
        position_ = {cursor->x, cursor->y};
    } else if (!hadScreen_) {
        position_ = {displayBounds_->midX(), displayBounds_->midY()};
    }
    hadScreen_ = true;
    if (!reporting) {
        reportsSince_ = queue_->now();
        scheduleReport(++reportGeneration_);
    }
    report(normalizedPosition());
}

void InputInjector::handle(const InputEvent& event) {
    if (released_ || !queue_ || !displayBounds_) {
        return;
    }
    lastInput_ = queue_->now();
    std::visit([this](const auto& value) { play(value); }, event.value());
}

void InputInjector::play(const InputEvent::PointerMove& event) {
    if (!isUsable(double(event.x)) || !isUsable(double(event.y))) {
        return;
    }
    move({alongSide(displayBounds_->minX(), displayBounds_->width(), double(event.x)),
          alongSide(displayBounds_->minY(), displayBounds_->height(), double(event.y))});
}

// Outside 0...1 is not clamped: the pointer may go to a neighbouring screen. Inside, the desktop plays a
// point on its nearest pixel, and the far edge itself is the first pixel of the screen beyond: a point
// within the last half pixel stays on this screen's last pixel.
double InputInjector::alongSide(double start, double length, double fraction) {
    const double point = start + length * fraction;
    return fraction >= 0 && fraction <= 1 ? std::min(point, start + length - 1) : point;
}

void InputInjector::play(const InputEvent::PointerDown& event) {
    press(event.button);
}

void InputInjector::play(const InputEvent::PointerUp& event) {
    release(event.button);
}

void InputInjector::play(const InputEvent::Scroll& event) {
    const auto vertical = wholePoints(event.dy);
    const auto horizontal = wholePoints(event.dx);
    if (!vertical || !horizontal) {
        return;
    }
    sink_->postScroll({*vertical, *horizontal, modifiers_});
}

void InputInjector::play(const InputEvent::KeyDown& event) {
    if (const auto modifier = KeyMap::modifierForUsage(event.hidUsage)) {
        setModifier(*modifier, true);
        return;
    }
    const auto keyCode = KeyMap::keyCodeForUsage(event.hidUsage);
    if (!keyCode) {
        return;
    }
    keysDown_.insert(*keyCode);
    postKey(*keyCode, true);
}

void InputInjector::play(const InputEvent::KeyUp& event) {
    if (const auto modifier = KeyMap::modifierForUsage(event.hidUsage)) {
        setModifier(*modifier, false);
        return;
    }
    const auto keyCode = KeyMap::keyCodeForUsage(event.hidUsage);
    if (!keyCode) {
        return;
    }
    // A key that is not held still goes up: a lost key-down must not leave the client unable to stop it.
    keysDown_.erase(*keyCode);
    postKey(*keyCode, false);
}

void InputInjector::play(const InputEvent::ModifierDown& event) {
    setModifier(event.modifier, true);
}

void InputInjector::play(const InputEvent::ModifierUp& event) {
    setModifier(event.modifier, false);
}

void InputInjector::play(const InputEvent::TextInput& event) {
    if (!Utf8::isValid(std::string_view(event.text))) {
        inputInjectorLog.error("text dropped: not utf-8");
        return;
    }
    std::string_view rest = event.text;
    while (!rest.empty()) {
        const std::size_t length = std::max<std::size_t>(UnicodeText::firstGraphemeLength(rest), 1);
        const std::string_view character = rest.substr(0, length);
        rest.remove_prefix(std::min(length, rest.size()));
        // Whatever line ends the client's text uses, one Return is typed.
        if (isLineBreak(character)) {
            postReturn();
        } else {
            sink_->postText(character);
        }
    }
}

void InputInjector::play(const InputEvent::Tap& event) {
    if (!isUsable(double(event.reach))) {
        return;
    }
    if (buttonsDown_.empty()) {
        if (tapTargets_) {
            const auto target = tapTargets_->find(position_, double(event.reach), *displayBounds_);
            if (target && isUsable(*target)) {
                move(*target);
            }
        }
        press(event.button);
        release(event.button);
    }
    // The client learns where a snapped tap went.
    report(normalizedPosition());
}

void InputInjector::move(Point point) {
    position_ = point;
    sink_->warp({point.x, point.y});
    if (buttonsDown_.empty()) {
        postMouse(MouseType::moved, PointerButton::left());
    } else {
        postMouse(draggedType(buttonsDown_.back()), buttonsDown_.back());
    }
}

void InputInjector::press(PointerButton button) {
    if (std::find(buttonsDown_.begin(), buttonsDown_.end(), button) != buttonsDown_.end()) {
        return;
    }
    buttonsDown_.push_back(button);
    clicks_.registerClick(buttonNumber(button), position_.x, position_.y, uptime());
    postMouse(downType(button), button);
}

void InputInjector::release(PointerButton button) {
    const auto held = std::find(buttonsDown_.begin(), buttonsDown_.end(), button);
    if (held == buttonsDown_.end()) {
        return;
    }
    buttonsDown_.erase(held);
    postMouse(upType(button), button);
}

void InputInjector::setModifier(Modifier modifier, bool down) {
    if (down == ((modifiers_ & flag(modifier)) != 0)) {
        return;
    }
    if (down) {
        modifiers_ |= flag(modifier);
    } else {
        modifiers_ &= ~flag(modifier);
    }
    sink_->postFlagsChanged({KeyMap::keyCodeForModifier(modifier), down, modifiers_});
}

void InputInjector::postMouse(MouseType type, PointerButton button) {
    const int clickState = type == MouseType::moved ? 0 : clicks_.count();
    sink_->postMouse({type, buttonNumber(button), {position_.x, position_.y}, modifiers_, clickState});
}

void InputInjector::postKey(std::uint16_t keyCode, bool down) {
    sink_->postKey({keyCode, down, extraFlags(keyCode) | modifiers_});
}

void InputInjector::postReturn() {
    sink_->postKey({returnKeyCode, true, modifiers_});
    sink_->postKey({returnKeyCode, false, modifiers_});
}

void InputInjector::releaseAll() {
    if (released_) {
        return;
    }
    released_ = true;
    ++reportGeneration_;
    letGo();
    sink_->releaseAll();
}

void InputInjector::letGo() {
    for (auto button = buttonsDown_.rbegin(); button != buttonsDown_.rend(); ++button) {
        postMouse(upType(*button), *button);
    }
    buttonsDown_.clear();
    for (const std::uint16_t keyCode : keysDown_) {
        postKey(keyCode, false);
    }
    keysDown_.clear();
    for (const Modifier modifier : allModifiers) {
        setModifier(modifier, false);
    }
}

double InputInjector::uptime() const {
    return std::chrono::duration<double>(queue_->now().time_since_epoch()).count();
}

SessionDesktop::PointerFraction InputInjector::normalizedPosition() const {
    const Rect& bounds = *displayBounds_;
    return {std::clamp((position_.x - bounds.minX()) / bounds.width(), 0.0, 1.0),
            std::clamp((position_.y - bounds.minY()) / bounds.height(), 0.0, 1.0)};
}

std::optional<SessionDesktop::PointerFraction> InputInjector::pointerReport() {
    if (!buttonsDown_.empty() || (lastInput_ && queue_->now() - *lastInput_ <= reportHoldOff)) {
        return std::nullopt;
    }
    const auto cursor = sink_->cursorLocation();
    if (!cursor || distance({cursor->x, cursor->y}, position_) <= reportDistance) {
        return std::nullopt;
    }
    position_ = {cursor->x, cursor->y};
    return normalizedPosition();
}

void InputInjector::report(SessionDesktop::PointerFraction position) {
    if (onPointerPosition_) {
        onPointerPosition_(position);
    }
}

void InputInjector::scheduleReport(std::uint64_t generation) {
    const auto quietSince = lastInput_.value_or(reportsSince_);
    const auto interval = queue_->now() - quietSince > quietAfter ? quietReportInterval : reportInterval;
    queue_->postAfter(interval, whileAlive(shared_from_this(), [generation](InputInjector& self) {
                          self.reportTick(generation);
                      }));
}

void InputInjector::reportTick(std::uint64_t generation) {
    if (generation != reportGeneration_) {
        return;
    }
    if (const auto position = pointerReport()) {
        report(*position);
    }
    scheduleReport(generation);
}

} // namespace velm
