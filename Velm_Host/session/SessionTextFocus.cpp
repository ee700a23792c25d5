#include "Velm_Host/session/SessionTextFocus.h"

#include "Velm_Host/session/ScreenGeometry.h"
#include "platform/dispatch/WhileAlive.h"
#include "transport/channel/ControlChannel.h"

#include <utility>

namespace velm {

std::shared_ptr<SessionTextFocus> SessionTextFocus::make(std::shared_ptr<TextFocusWatch> watch,
                                                         std::shared_ptr<ControlChannel> channel,
                                                         std::shared_ptr<Queue> queue) {
    return std::shared_ptr<SessionTextFocus>(
        new SessionTextFocus(std::move(watch), std::move(channel), std::move(queue)));
}

SessionTextFocus::SessionTextFocus(std::shared_ptr<TextFocusWatch> watch,
                                   std::shared_ptr<ControlChannel> channel, std::shared_ptr<Queue> queue)
    : watch_(std::move(watch)), channel_(std::move(channel)), queue_(std::move(queue)),
      lastInput_(queue_->now()) {}

// Each stream start watches afresh, so the client hears where the focus is on the screen it now sees.
void SessionTextFocus::watch(const std::optional<SessionDesktop::Area>& screen) {
    if (!watch_) {
        return;
    }
    if (!screen) {
        stop();
        return;
    }
    const auto number = current_ = ++last_;
    screen_ = {{static_cast<double>(screen->x), static_cast<double>(screen->y)},
               {static_cast<double>(screen->width), static_cast<double>(screen->height)}};
    isQuiet_ = false;
    const auto self = shared_from_this();
    watch_->setOnChange(onQueueWhileAlive(queue_, self, [number](SessionTextFocus& focus, bool takesText) {
        focus.changed(number, takesText);
    }));
    watch_->setOnAreaChange(
        onQueueWhileAlive(queue_, self, [number](SessionTextFocus& focus, std::optional<Rect> frame) {
            focus.areaChanged(number, frame);
        }));
    watch_->start();
}

void SessionTextFocus::stop() {
    if (current_ == 0) {
        return;
    }
    current_ = 0;
    isQuiet_ = false;
    watch_->stop();
}

void SessionTextFocus::inputArrived() {
    lastInput_ = queue_->now();
    if (std::exchange(isQuiet_, false)) {
        watch_->setQuiet(false);
    }
}

void SessionTextFocus::tick() {
    if (current_ != 0 && !isQuiet_ && queue_->now() - lastInput_ > quietAfter) {
        isQuiet_ = true;
        watch_->setQuiet(true);
    }
}

void SessionTextFocus::changed(std::uint64_t watch, bool takesText) {
    if (watch == current_) {
        channel_->send(ControlMessage::textInputFocus(takesText));
    }
}

void SessionTextFocus::areaChanged(std::uint64_t watch, std::optional<Rect> frame) {
    if (watch == current_) {
        channel_->send(ControlMessage::textInputArea(frame ? inputArea(*frame, screen_) : std::nullopt));
    }
}

std::optional<TextInputArea> SessionTextFocus::inputArea(const Rect& frame, const Rect& screen) {
    if (!isUsable(frame.origin) || !isUsable(frame.size) || !isUsable(screen.origin) ||
        !isUsable(screen.size) || !(screen.width() > 0 && screen.height() > 0)) {
        return std::nullopt;
    }
    const Rect clipped = ScreenGeometry::intersection(frame, screen);
    if (!(clipped.width() > 0 && clipped.height() > 0)) {
        return std::nullopt;
    }
    return TextInputArea{(clipped.minX() - screen.minX()) / screen.width(),
                         (clipped.minY() - screen.minY()) / screen.height(), clipped.width() / screen.width(),
                         clipped.height() / screen.height()};
}

} // namespace velm
