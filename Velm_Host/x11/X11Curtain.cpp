#include "Velm_Host/x11/X11Curtain.h"

#include "platform/dbus/BusConnection.h"
#include "platform/dbus/DbusScreenLock.h"
#include "platform/dispatch/TimerfdBootClock.h"
#include "platform/x11/X11DeviceGrab.h"
#include "platform/x11/X11ScreenList.h"
#include "platform/x11/X11ShieldWindows.h"

namespace velm {

std::shared_ptr<Curtain> X11Curtain::forDesktop() {
    auto queue = Queue::make("velm.host.curtain");
    return Curtain::make(
        {.screens = X11ScreenList::make(queue),
         .shields = X11ShieldWindows::make(Curtain::label),
         .tap = std::make_shared<CurtainTap>(X11DeviceGrab::make("velm.curtain.tap", queue)),
         .screenLock = DbusScreenLock::make(BusConnection::system(), BusConnection::session(), queue,
                                            DbusScreenLock::Timing{}),
         .bootClock = std::make_shared<TimerfdBootClock>()},
        queue);
}

} // namespace velm
