#pragma once

#include "Velm_Host/desktop/FileOffers.h"
#include "Velm_Host/desktop/X11SessionDesktop.h"
#include "Velm_Host/input/TapTargetFinder.h"
#include "Velm_Host/model/HostDesktop.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/dispatch/Queue.h"
#include "platform/x11/Clipboard.h"
#include "platform/x11/ScreenList.h"

#include <functional>
#include <memory>

namespace velm {

// The desktop of the X display this process runs on: one clipboard and one list of offered files for the
// whole process, the screens as the process's one list of them has them, and for each session, as it asks for
// them, an X11SessionDesktop, an XTest input injector whose taps the accessibility tree moves onto controls,
// and a text focus monitor.
class X11HostDesktop final : public HostDesktop, public std::enable_shared_from_this<X11HostDesktop> {
public:
    // `screens` reports on the model's queue; the desktop watches it for the model. `iconQueue` is the
    // Qt GUI thread's; `deviceImages` draws this computer's pictures there and is given the screens
    // attached. Without `accessibility` taps land where they are and the keyboard focus is not
    // followed. Lets go of keys and buttons an earlier run left held.
    static std::shared_ptr<X11HostDesktop>
    make(std::shared_ptr<ScreenList> screens, std::shared_ptr<Queue> iconQueue,
         std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages,
         std::shared_ptr<Accessibility> accessibility);

    std::shared_ptr<SessionDesktop> sessionDesktop() override;
    std::shared_ptr<InputSink> sessionInput() override;
    std::shared_ptr<SessionTextFocus> sessionTextFocus() override;
    bool hasDisplay() override;
    DesktopAccess access() override;
    void setOnScreensChanged(std::function<void()> handler) override;

private:
    X11HostDesktop(std::shared_ptr<Queue> iconQueue, std::shared_ptr<ScreenList> screens,
                   std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages,
                   std::shared_ptr<Accessibility> accessibility);

    const std::shared_ptr<Queue> desktopQueue_;
    const std::shared_ptr<Queue> iconQueue_;
    const std::shared_ptr<Clipboard> clipboard_;
    const std::shared_ptr<FileOffers> fileOffers_;
    const std::shared_ptr<ScreenList> screens_;
    const std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages_;
    const std::shared_ptr<Accessibility> accessibility_;
    // Shared by every session's injector: it keeps no state between taps.
    const std::shared_ptr<TapTargetFinder> tapTargets_;
};

} // namespace velm
