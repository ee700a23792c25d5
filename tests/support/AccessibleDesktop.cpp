#include "tests/support/AccessibleDesktop.h"

#include "tests/support/Blocking.h"

#include <csignal>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace velm::test {
namespace {

// Asks without activating anything: a bus activated by the session bus would run with the bus's
// environment and place its socket outside the sandbox.
bool hasBusOwner() {
    const auto answer =
        outputOf("gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                 "--method org.freedesktop.DBus.NameHasOwner org.a11y.Bus");
    return answer && answer->find("true") != std::string::npos;
}

// The text between the first pair of single quotes of a printed D-Bus answer.
std::optional<std::string> quoted(const std::string& answer) {
    const auto first = answer.find('\'');
    const auto last = answer.find('\'', first + 1);
    if (first == std::string::npos || last == std::string::npos) {
        return std::nullopt;
    }
    return answer.substr(first + 1, last - first - 1);
}

// The registry daemon that the accessibility bus started for its clients, which stays when the bus
// ends.
std::optional<pid_t> registryOf() {
    const auto answer = outputOf("gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus "
                                 "--method org.a11y.Bus.GetAddress");
    const auto address = answer ? quoted(*answer) : std::nullopt;
    if (!address) {
        return std::nullopt;
    }
    const auto pid =
        outputOf("gdbus call --address '" + *address +
                 "' --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                 "--method org.freedesktop.DBus.GetConnectionUnixProcessID org.a11y.atspi.Registry");
    // "(uint32 1234,)"
    const auto digits = pid ? pid->find_first_of("0123456789", pid->find(' ')) : std::string::npos;
    if (digits == std::string::npos) {
        return std::nullopt;
    }
    const long value = std::strtol(pid->c_str() + digits, nullptr, 10);
    return value > 1 ? std::optional(static_cast<pid_t>(value)) : std::nullopt;
}

} // namespace

AccessibleDesktop::~AccessibleDesktop() {
    // The application ends before the bus it talks to, and the bus before its registry.
    application_.reset();
    if (bus_) {
        const auto registry = registryOf();
        bus_.reset();
        if (registry) {
            kill(*registry, SIGTERM);
        }
    }
}

std::unique_ptr<AccessibleDesktop> AccessibleDesktop::start(const std::string& program, std::string& reason,
                                                            const std::vector<std::string>& arguments) {
    if (!std::getenv("VELM_TEST_X11") || !std::getenv("XDG_RUNTIME_DIR")) {
        reason = "no sandboxed X server and session bus; run under scripts/x11-sandbox.sh (VELM_TEST_X11)";
        return nullptr;
    }
    if (access(busLauncher, X_OK) != 0) {
        reason = std::string(busLauncher) + " is missing (Debian package at-spi2-core)";
        return nullptr;
    }
    // The launcher keeps its bus's socket in XDG_RUNTIME_DIR, the sandbox's own. One that an earlier
    // program had the session bus start serves as well.
    std::unique_ptr<ChildProcess> bus;
    if (!hasBusOwner()) {
        // Its accessibility switch is a desktop setting: the tests' flips stay in its memory.
        bus = ChildProcess::start({busLauncher, "--launch-immediately"}, {"GSETTINGS_BACKEND=memory"},
                                  ChildProcess::Output::discarded);
    }
    if (!Blocking::waitUntil(hasBusOwner)) {
        reason = "the accessibility bus did not come up";
        return nullptr;
    }
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto application =
        ChildProcess::start(command, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "QT_QPA_PLATFORM=xcb"});
    if (!application) {
        reason = "could not start " + program;
        return nullptr;
    }
    return std::unique_ptr<AccessibleDesktop>(new AccessibleDesktop(std::move(bus), std::move(application)));
}

} // namespace velm::test
