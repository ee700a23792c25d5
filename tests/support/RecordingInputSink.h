#pragma once

#include "Velm_Host/session/InputSink.h"

#include <utility>
#include <vector>

namespace velm::test {

// An input sink that keeps what it was given. Used from the session's queue only.
class RecordingInputSink final : public InputSink {
public:
    void setOnPointerPosition(std::function<void(SessionDesktop::PointerFraction)> handler) override {
        onPointerPosition_ = std::move(handler);
    }
    void start(std::shared_ptr<Queue>) override { started = true; }
    // Reports `position` at once for a screen, as the injector does.
    void setScreen(std::optional<SessionDesktop::Area> area) override {
        screen = area;
        if (area && onPointerPosition_) {
            onPointerPosition_(position);
        }
    }
    void handle(const InputEvent& event) override { events.push_back(event); }
    void letGo() override { ++letGos; }
    void releaseAll() override { ++releases; }

    // Plays the injector reporting where the pointer went.
    void movePointer(SessionDesktop::PointerFraction to) { onPointerPosition_(to); }

    SessionDesktop::PointerFraction position{.x = 0.25, .y = 0.75};
    bool started = false;
    std::optional<SessionDesktop::Area> screen;
    std::vector<InputEvent> events;
    int letGos = 0;
    int releases = 0;

private:
    std::function<void(SessionDesktop::PointerFraction)> onPointerPosition_;
};

} // namespace velm::test
