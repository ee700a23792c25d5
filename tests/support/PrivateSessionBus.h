#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <memory>
#include <string>

namespace velm::test {

// A session bus of the test's own: a dbus-daemon listening in a temporary folder that starts no service
// by activation (so no real notification server turns up on it), ended by its process id.
class PrivateSessionBus {
public:
    // Nothing when dbus-daemon cannot be started here.
    static std::unique_ptr<PrivateSessionBus> start();

    const std::string& address() const { return address_; }
    // The daemon's, for a test that freezes the bus.
    pid_t pid() const { return daemon_->pid(); }

private:
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace velm::test
