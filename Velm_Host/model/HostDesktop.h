#pragma once

#include "Velm_Host/session/InputSink.h"
#include "Velm_Host/session/SessionDesktop.h"
#include "Velm_Host/session/TextFocusWatch.h"
#include "platform/display/DesktopAccess.h"

#include <functional>
#include <memory>

namespace velm {

// This computer's desktop as the host model uses it: what each session gets to show the screens, play
// input back and follow the keyboard focus, whether a screen stands beside the computer, and what the
// desktop lets us do.
class HostDesktop {
public:
    virtual ~HostDesktop() = default;

    // Fresh parts for one session, each made on its own when the session first needs it (on the
    // session's queue): nothing of the desktop is opened for a connection that is never admitted.
    virtual std::shared_ptr<SessionDesktop> sessionDesktop() = 0;
    virtual std::shared_ptr<InputSink> sessionInput() = 0;
    // None where the desktop cannot tell where its keyboard focus is.
    virtual std::shared_ptr<TextFocusWatch> sessionTextFocus() = 0;
    // A screen other than the computer's own panel is attached.
    virtual bool hasDisplay() = 0;
    // Asks afresh; may take a moment.
    virtual DesktopAccess access() = 0;
    // The screens were added, removed or changed; called on the model's queue.
    virtual void setOnScreensChanged(std::function<void()> handler) = 0;
};

} // namespace velm
