#include "Velm_Host/x11/X11HostDesktop.h"

#include "Velm_Host/input/InputInjector.h"
#include "Velm_Host/input/TextFocusMonitor.h"
#include "platform/x11/DoubleClickInterval.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11DesktopAccess.h"
#include "platform/x11/X11InputSink.h"

#include <algorithm>

namespace velm {

std::shared_ptr<X11HostDesktop>
X11HostDesktop::make(std::shared_ptr<ScreenList> screens, std::shared_ptr<Queue> iconQueue,
                     std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages,
                     std::shared_ptr<Accessibility> accessibility) {
    // A key held down by a run that ended without letting go keeps repeating until released, and the
    // spare keys it gave characters are lost to typing until emptied.
    X11InputSink leftovers;
    leftovers.releaseAll();
    leftovers.emptyKeysAnEarlierHostKept();
    return std::shared_ptr<X11HostDesktop>(new X11HostDesktop(
        std::move(iconQueue), std::move(screens), std::move(deviceImages), std::move(accessibility)));
}

X11HostDesktop::X11HostDesktop(std::shared_ptr<Queue> iconQueue, std::shared_ptr<ScreenList> screens,
                               std::function<SessionDesktop::DeviceImage(std::vector<Monitor>)> deviceImages,
                               std::shared_ptr<Accessibility> accessibility)
    : desktopQueue_(Queue::make("velm.host.desktop")), iconQueue_(std::move(iconQueue)),
      clipboard_(X11Clipboard::make(Queue::make("velm.host.clipboard"))),
      fileOffers_(std::make_shared<FileOffers>()), screens_(std::move(screens)),
      deviceImages_(std::move(deviceImages)), accessibility_(std::move(accessibility)),
      tapTargets_(accessibility_ ? std::make_shared<TapTargetFinder>(accessibility_) : nullptr) {}

std::shared_ptr<SessionDesktop> X11HostDesktop::sessionDesktop() {
    return X11SessionDesktop::make({.queue = desktopQueue_,
                                    .iconQueue = iconQueue_,
                                    .clipboard = clipboard_,
                                    .fileOffers = fileOffers_,
                                    .deviceImages = [screens = screens_, draw = deviceImages_] {
                                        return draw ? draw(screens->monitors())
                                                    : SessionDesktop::DeviceImage{};
                                    }});
}

std::shared_ptr<InputSink> X11HostDesktop::sessionInput() {
    return InputInjector::make(std::make_unique<X11InputSink>(DoubleClickInterval::ofDesktop()), tapTargets_);
}

std::shared_ptr<TextFocusWatch> X11HostDesktop::sessionTextFocus() {
    return accessibility_ ? TextFocusMonitor::make(accessibility_) : nullptr;
}

bool X11HostDesktop::hasDisplay() {
    const auto monitors = screens_->monitors();
    return std::any_of(monitors.begin(), monitors.end(),
                       [](const Monitor& monitor) { return !monitor.isBuiltIn; });
}

DesktopAccess X11HostDesktop::access() {
    return X11DesktopAccess::check();
}

void X11HostDesktop::setOnScreensChanged(std::function<void()> handler) {
    screens_->setOnChange([handler = std::move(handler)](const std::vector<Monitor>&) {
        if (handler) {
            handler();
        }
    });
    screens_->startWatching();
}

} // namespace velm
