#pragma once

#include "platform/core/Bytes.h"
#include "tests/support/X11TestDesktop.h"

#include <memory>
#include <string>

namespace velm::test {

// Stands in for a desktop's settings manager on the sandbox's X server: a window of its own owns the
// XSETTINGS selection of screen 0 and carries the published list. The selection is let go when it
// ends (its connection closes).
class X11SettingsManager {
public:
    // Nothing (and `reason` says why) outside the sandbox.
    static std::unique_ptr<X11SettingsManager> start(std::string& reason);
    // Lets go of the selection before the connection closes, so that the next reader never finds a
    // manager whose end the server has not handled yet.
    ~X11SettingsManager();
    X11SettingsManager(const X11SettingsManager&) = delete;
    X11SettingsManager& operator=(const X11SettingsManager&) = delete;

    // Replaces the _XSETTINGS_SETTINGS property with these bytes, whatever they hold.
    void publish(const Bytes& settings);

private:
    X11SettingsManager(std::unique_ptr<X11TestDesktop> desktop, X11TestDesktop::Window window)
        : desktop_(std::move(desktop)), window_(window) {}

    std::unique_ptr<X11TestDesktop> desktop_;
    X11TestDesktop::Window window_;
};

} // namespace velm::test
