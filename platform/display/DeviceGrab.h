#pragma once

#include "platform/display/InputDevice.h"

#include <functional>
#include <optional>

namespace velm {

// Holds some of the desktop's input devices for itself, so that what they send reaches no
// application, until it lets them go. A device added while the grab lasts is held on arrival when
// chosen.
class DeviceGrab {
public:
    enum class Failure {
        noDesktop, // no X server to talk to
        noXInput2, // the server cannot list or grab single devices
        refused,   // the server would not give a chosen device to us (another client holds it)
        noAnswer,  // the server did not answer in time
    };

    // Which devices to hold; called on the grab's own thread.
    using Choice = std::function<bool(const InputDevice&)>;
    using FailureHandler = std::function<void(Failure)>;

    virtual ~DeviceGrab() = default;

    // A device, at the start or added later, could not be held (the others still are). Called on the
    // owner's queue; set before start.
    virtual void setOnFailed(FailureHandler handler) = 0;
    // Lets go of whatever an earlier start held, then holds every device `choice` picks; nothing when
    // some are held (one that another client holds is left to it and reported as a later one is), else
    // why not (and then none is).
    virtual std::optional<Failure> start(Choice choice) = 0;
    // Lets every device go. Nothing is reported afterwards.
    virtual void stop() = 0;
};

} // namespace velm
