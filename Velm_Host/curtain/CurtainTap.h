#pragma once

#include "platform/display/DeviceGrab.h"

#include <memory>
#include <mutex>

namespace velm {

// Stops the computer's own keyboards and pointers while the curtain is up and lets the host's injected
// input through. On X11 the injected input arrives through the server's XTEST devices, whose events are
// the ones carrying the injected-event marker; the others are the local devices, which are held
// (grabbed) so that what they send reaches no application. A new grab, on a thread of its own
// ("velm.curtain.tap"), serves each start; a stop lets every device go.
//
// A device that cannot be held is logged as an error and left working: the curtain stays up without
// it, since its shields still hide what the remote user does.
class CurtainTap {
public:
    explicit CurtainTap(std::shared_ptr<DeviceGrab> grab);

    // Whether the curtain holds a device: what the local input filter does with the events it sends.
    static bool blocks(const InputDevice& device);

    // True when every local device is stopped; else nothing is, and the reason is logged.
    bool start();
    void stop();

private:
    const std::shared_ptr<DeviceGrab> grab_;

    std::mutex lock;
    bool holding_ = false;
};

} // namespace velm
