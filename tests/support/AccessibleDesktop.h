#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace velm::test {

// A real application on the accessibility bus, for tests that read its tree: the accessibility bus
// of the sandbox's session (scripts/x11-sandbox.sh) and a program that shows a window on its display.
// Both run as children of the test and end with it, by process id.
class AccessibleDesktop {
public:
    static constexpr const char* busLauncher = "/usr/libexec/at-spi-bus-launcher";

    // Nothing (and `reason` says why) outside the sandbox or when the bus does not come up. The
    // program starts once the bus is there, with Qt's accessibility on, and with `arguments`.
    static std::unique_ptr<AccessibleDesktop> start(const std::string& program, std::string& reason,
                                                    const std::vector<std::string>& arguments = {});
    ~AccessibleDesktop();
    AccessibleDesktop(const AccessibleDesktop&) = delete;
    AccessibleDesktop& operator=(const AccessibleDesktop&) = delete;

    // The program's process, for tests that freeze it.
    pid_t applicationPid() const { return application_->pid(); }

private:
    AccessibleDesktop(std::unique_ptr<ChildProcess> bus, std::unique_ptr<ChildProcess> application)
        : bus_(std::move(bus)), application_(std::move(application)) {}

    // No bus of our own when one ran already.
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> application_;
};

} // namespace velm::test
