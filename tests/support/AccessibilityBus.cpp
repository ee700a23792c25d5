#include "tests/support/AccessibilityBus.h"

#include "tests/support/AccessibleDesktop.h"
#include "tests/support/Blocking.h"

#include <unistd.h>

namespace velm::test {

std::unique_ptr<AccessibilityBus> AccessibilityBus::start(std::string& reason) {
    if (access(AccessibleDesktop::busLauncher, X_OK) != 0) {
        reason = std::string(AccessibleDesktop::busLauncher) + " is missing (Debian package at-spi2-core)";
        return nullptr;
    }
    std::unique_ptr<AccessibilityBus> bus(new AccessibilityBus);
    bus->session_ = PrivateSessionBus::start();
    if (!bus->session_) {
        reason = "dbus-daemon cannot start a session bus here";
        return nullptr;
    }
    const std::string address = bus->session_->address();
    bus->launcher_ =
        ChildProcess::start({AccessibleDesktop::busLauncher, "--launch-immediately"},
                            {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + address,
                             "XDG_RUNTIME_DIR=" + bus->runtime_.path().string(), "GSETTINGS_BACKEND=memory"},
                            ChildProcess::Output::discarded, ChildProcess::Environment::only);
    const auto served = [&address] {
        const auto answer = outputOf("gdbus call --address '" + address +
                                     "' --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                                     "--method org.freedesktop.DBus.NameHasOwner org.a11y.Bus");
        return answer && answer->find("true") != std::string::npos;
    };
    if (!bus->launcher_ || !Blocking::waitUntil(served)) {
        reason = "the accessibility bus launcher did not come up on its session bus";
        return nullptr;
    }
    return bus;
}

} // namespace velm::test
