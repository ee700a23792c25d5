#pragma once

#include "Velm_Host/session/SessionDesktop.h"
#include "protocol/InputEvent.h"

#include <functional>
#include <memory>
#include <optional>

namespace velm {

class Queue;

// Where a session's input events are played back. The session calls it on its own queue, hands it
// the screen of the described stream, and hears the pointer's position through the setter, on the
// queue given to start().
class InputSink {
public:
    virtual ~InputSink() = default;

    // The pointer's position on the screen, as fractions of its width and height: after a tap, and
    // from then on every so often while a screen is set.
    virtual void setOnPointerPosition(std::function<void(SessionDesktop::PointerFraction)> handler) = 0;
    virtual void start(std::shared_ptr<Queue> queue) = 0;

    // The screen input lands on; events are dropped while there is none.
    virtual void setScreen(std::optional<SessionDesktop::Area> area) = 0;
    virtual void handle(const InputEvent& event) = 0;
    // Lets go of every key and button held, and plays later input as before: when the client stops
    // watching, since a key left down would go on repeating on the desktop.
    virtual void letGo() = 0;
    // Lets go of every key and button held, and stops for good: at the session's end.
    virtual void releaseAll() = 0;
};

} // namespace velm
