#pragma once

#include "Velm_Host/session/InputSink.h"
#include "input/ClickCounter.h"
#include "input/Geometry.h"
#include "platform/dispatch/Queue.h"
#include "platform/display/InputEventSink.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace velm {

class TapTargetSearch;

// Plays one session's input events back on this computer through an InputEventSink, keeping the state
// a real mouse and keyboard would have: where the pointer is, which buttons, keys and modifiers are
// held and how many clicks in a row were made. A tap is first moved onto the control it was meant
// for, when the tap-target search finds one.
//
// The pointer's position goes to the client (setOnPointerPosition): at once when a screen is set and
// after each tap, and on a timer while a screen is set whenever the pointer moved by other means (the
// local mouse, an application), but never while the client drags or within 0.3 s of its own input.
//
// Everything happens on the session's queue: start, setScreen, handle, letGo and releaseAll are called
// there, and the position is reported there. Key repeat is the desktop's own (the X server repeats
// held keys), so the injector keeps no repeat timer.
class InputInjector final : public InputSink, public std::enable_shared_from_this<InputInjector> {
public:
    static constexpr std::chrono::milliseconds reportInterval{200};
    // While the session is quiet, that is after more than quietAfter without input.
    static constexpr std::chrono::milliseconds quietReportInterval{1000};
    static constexpr std::chrono::seconds quietAfter{5};
    static constexpr std::chrono::milliseconds reportHoldOff{300};
    // The pointer moved by itself when it lies further than this (points) from where it was left.
    static constexpr double reportDistance = 2.0;
    // Clicks this far apart (points) or further are separate clicks.
    static constexpr double clickSlop = 6;

    // Without a tap-target search taps are clicked where they land.
    static std::shared_ptr<InputInjector> make(std::unique_ptr<InputEventSink> sink,
                                               std::shared_ptr<TapTargetSearch> tapTargets);

    void setOnPointerPosition(std::function<void(SessionDesktop::PointerFraction)> handler) override;
    void start(std::shared_ptr<Queue> queue) override;
    // Takes the real pointer's position (the screen's centre when it cannot be read and no screen was
    // set before) and reports it at once.
    void setScreen(std::optional<SessionDesktop::Area> area) override;
    void handle(const InputEvent& event) override;
    // Releases every held button (last pressed first), key and modifier.
    void letGo() override;
    void releaseAll() override;

private:
    InputInjector(std::unique_ptr<InputEventSink> sink, std::shared_ptr<TapTargetSearch> tapTargets);

    void play(const InputEvent::PointerMove& event);
    void play(const InputEvent::PointerDown& event);
    void play(const InputEvent::PointerUp& event);
    void play(const InputEvent::Scroll& event);
    void play(const InputEvent::KeyDown& event);
    void play(const InputEvent::KeyUp& event);
    void play(const InputEvent::ModifierDown& event);
    void play(const InputEvent::ModifierUp& event);
    void play(const InputEvent::TextInput& event);
    void play(const InputEvent::Tap& event);

    static double alongSide(double start, double length, double fraction);
    void move(Point point);
    void press(PointerButton button);
    void release(PointerButton button);
    void setModifier(Modifier modifier, bool down);
    void postMouse(InputEventSink::MouseType type, PointerButton button);
    void postKey(std::uint16_t keyCode, bool down);
    void postReturn();

    double uptime() const;
    SessionDesktop::PointerFraction normalizedPosition() const;
    std::optional<SessionDesktop::PointerFraction> pointerReport();
    void report(SessionDesktop::PointerFraction position);
    void scheduleReport(std::uint64_t generation);
    void reportTick(std::uint64_t generation);

    std::unique_ptr<InputEventSink> sink_;
    std::shared_ptr<TapTargetSearch> tapTargets_;
    std::function<void(SessionDesktop::PointerFraction)> onPointerPosition_;
    std::shared_ptr<Queue> queue_;

    // Touched only on queue_.
    std::optional<Rect> displayBounds_;
    bool hadScreen_ = false;
    Point position_;
    std::optional<Queue::Clock::time_point> lastInput_;
    Queue::Clock::time_point reportsSince_{};
    std::vector<PointerButton> buttonsDown_;
    std::set<std::uint16_t> keysDown_;
    std::uint64_t modifiers_ = 0;
    ClickCounter clicks_;
    // Reports scheduled by an earlier screen (or before releaseAll) see another generation and stop.
    std::uint64_t reportGeneration_ = 0;
    bool released_ = false;
};

} // namespace velm
