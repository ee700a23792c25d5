#pragma once

#include "protocol/CurtainState.h"

namespace velm {

// What a session asks of the curtain that hides this computer's own screens and input while a device
// drives it. The session calls it on its own queue.
class SessionCurtain {
public:
    virtual ~SessionCurtain() = default;

    // The state for the host's hello: takes over a curtain that is up (say from this device's dropped
    // session), and raises one when `force` (the device's policy asks for it).
    virtual CurtainState raise(bool force) = 0;
    // Raises or lowers the curtain for this session; the state that resulted.
    virtual CurtainState set(bool on) = 0;
    // The session is over. An orderly end (a goodbye from either side) locks the computer and lowers a
    // curtain this session raised; a dropped connection leaves it up for a while, for a reconnect.
    virtual void sessionEnded(bool orderly) = 0;
    // Whether shields cover the screens now, for whichever session: a picture of the screen would show
    // the shields rather than the desktop.
    virtual bool coversScreens() = 0;
};

} // namespace velm
