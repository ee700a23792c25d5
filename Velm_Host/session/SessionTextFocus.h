#pragma once

#include "Velm_Host/session/SessionDesktop.h"
#include "Velm_Host/session/TextFocusWatch.h"
#include "input/Geometry.h"
#include "platform/dispatch/Queue.h"
#include "protocol/TextInputArea.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace velm {

class ControlChannel;

// What the client of a main session hears of the desktop's keyboard focus, so that it shows its
// on-screen keyboard only while the focus takes text and keeps the edited field in view: each stream
// start watches afresh through the TextFocusWatch, textInputFocus and textInputArea (the field's frame
// as fractions of the described screen) go out only while a stream is described, and the watch turns
// quiet after `quietAfter` without input and wakes at the next. Without a watch the client is never
// told. Everything runs on the session's queue.
class SessionTextFocus : public std::enable_shared_from_this<SessionTextFocus> {
public:
    static constexpr std::chrono::seconds quietAfter{5};

    static std::shared_ptr<SessionTextFocus> make(std::shared_ptr<TextFocusWatch> watch,
                                                  std::shared_ptr<ControlChannel> channel,
                                                  std::shared_ptr<Queue> queue);

    // A stream started on this screen; none stops the watch.
    void watch(const std::optional<SessionDesktop::Area>& screen);
    // The stream paused or the session ends; what the watch reports after this is dropped.
    void stop();
    void inputArrived();
    // Every so often: turns quiet once the input stopped for long enough.
    void tick();

    // Where a field's frame lies on the described screen, as fractions of it, clipped to it; nothing
    // when it lies outside.
    static std::optional<TextInputArea> inputArea(const Rect& frame, const Rect& screen);

private:
    SessionTextFocus(std::shared_ptr<TextFocusWatch> watch, std::shared_ptr<ControlChannel> channel,
                     std::shared_ptr<Queue> queue);

    void changed(std::uint64_t watch, bool takesText);
    void areaChanged(std::uint64_t watch, std::optional<Rect> frame);

    const std::shared_ptr<TextFocusWatch> watch_;
    const std::shared_ptr<ControlChannel> channel_;
    const std::shared_ptr<Queue> queue_;

    // Each watch is numbered, so that what an earlier one reported on its way here is dropped; 0 while
    // none runs.
    std::uint64_t current_ = 0;
    std::uint64_t last_ = 0;
    // The described screen the field's frame is measured against.
    Rect screen_;
    bool isQuiet_ = false;
    Queue::Clock::time_point lastInput_;
};

} // namespace velm
