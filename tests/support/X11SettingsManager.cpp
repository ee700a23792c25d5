#include "tests/support/X11SettingsManager.h"

#include <X11/Xlib.h>

namespace velm::test {

std::unique_ptr<X11SettingsManager> X11SettingsManager::start(std::string& reason) {
    auto desktop = X11TestDesktop::open(reason);
    if (!desktop) {
        return nullptr;
    }
    Display* display = desktop->display();
    const Window window = XCreateSimpleWindow(display, desktop->root(), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, desktop->atom("_XSETTINGS_S0"), window, CurrentTime);
    XSync(display, False);
    return std::unique_ptr<X11SettingsManager>(new X11SettingsManager(std::move(desktop), window));
}

X11SettingsManager::~X11SettingsManager() {
    Display* display = desktop_->display();
    XSetSelectionOwner(display, desktop_->atom("_XSETTINGS_S0"), None, CurrentTime);
    XDestroyWindow(display, window_);
    XSync(display, False);
}

void X11SettingsManager::publish(const Bytes& settings) {
    Display* display = desktop_->display();
    const Atom property = desktop_->atom("_XSETTINGS_SETTINGS");
    XChangeProperty(display, window_, property, property, 8, PropModeReplace, settings.data(),
                    static_cast<int>(settings.size()));
    XSync(display, False);
}

} // namespace velm::test
