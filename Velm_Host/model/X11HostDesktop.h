#pragma once

#include "Velm_Host/desktop/FileOffers.h"
#include "Velm_Host/desktop/X11SessionDesktop.h"
#include "Velm_Host/model/HostDesktop.h"
#include "platform/dispatch/Queue.h"
#include "platform/x11/Clipboard.h"
#include "platform/x11/ScreenList.h"

#include <functional>
#include <memory>

namespace velm {

// The desktop of the X display this process runs on: one clipboard, one list of offered files and one
// watch on the screens for the whole process, and an X11SessionDesktop with an XTest input injector
// for each session.
class X11HostDesktop final : public HostDesktop, public std::enable_shared_from_this<X11HostDesktop> {
public:
    // `iconQueue` is the Qt GUI thread's; `deviceImages` draws this computer's pictures there and
    // is given the screens attached. Lets go of keys and buttons an earlier run left held.
    static std::shared_ptr<X11HostDesktop>
    make(std::shared_ptr<Queue> modelQueue, std::shared_ptr<Queue> iconQueue,
         std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages);

    SessionParts sessionParts() override;
    bool hasDisplay() override;
    DesktopAccess access() override;
    void setOnScreensChanged(std::function<void()> handler) override;

private:
    X11HostDesktop(std::shared_ptr<Queue> iconQueue, std::shared_ptr<ScreenList> screens,
                   std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages);

    const std::shared_ptr<Queue> desktopQueue_;
    const std::shared_ptr<Queue> iconQueue_;
    const std::shared_ptr<Clipboard> clipboard_;
    const std::shared_ptr<FileOffers> fileOffers_;
    const std::shared_ptr<ScreenList> screens_;
    const std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages_;
};

} // namespace velm
