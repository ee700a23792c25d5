#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TemporaryFolder.h"

#include <memory>
#include <string>

namespace velm::test {

// An accessibility bus launcher of the test's own, on a session bus of the test's own, for tests of the
// desktop's accessibility switch. The sandbox's session bus will not do: any program that reads the
// accessibility tree there (the host itself, in the tray suite) has that bus start a launcher by
// activation, which stays for the rest of the run and whose switch is then nobody's to flip. This one
// keeps its switch in memory and sees no display.
class AccessibilityBus {
public:
    // Nothing (and `reason` says why) when the launcher or a bus cannot start here.
    static std::unique_ptr<AccessibilityBus> start(std::string& reason);

    // The session bus on which the launcher serves org.a11y.Bus.
    const std::string& sessionAddress() const { return session_->address(); }

private:
    AccessibilityBus() = default;

    TemporaryFolder runtime_;
    std::unique_ptr<PrivateSessionBus> session_;
    std::unique_ptr<ChildProcess> launcher_;
};

} // namespace velm::test
