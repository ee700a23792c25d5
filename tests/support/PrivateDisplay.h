#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>

namespace velm::test {

// An X display of the test's own: Xvfb on a display number it finds free itself, with nothing else
// on it (no tray, no window manager), ended by its process id.
class PrivateDisplay {
public:
    // Nothing when Xvfb cannot be started here.
    static std::unique_ptr<PrivateDisplay> start();

    ~PrivateDisplay();

    // As DISPLAY takes it (":93").
    const std::string& name() const { return name_; }

    // Stops the server where it is, as a hung one: its clients' calls wait for an answer.
    void freeze();
    void thaw();

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
    bool isFrozen_ = false;
};

} // namespace velm::test
