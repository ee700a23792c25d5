#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velm::test {

// A program a test runs beside itself (a bus, a small window), ended by its process id when the test
// lets go of it: asked to end, and killed when it has not within two seconds.
class ChildProcess {
public:
    enum class Output { shown, discarded };

    // Runs `arguments` (the program first, looked up on PATH) with the test's environment and the
    // `environment` entries ("NAME=value") replacing or adding to it. Nothing when it cannot start.
    // Output that is shown goes where the test's goes; a program whose own children may outlive it
    // should discard it, or they keep the test's output open.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment = {},
                                               Output output = Output::shown);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once it has ended by itself.
    bool isRunning();

private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}

    pid_t pid_;
    bool hasEnded_ = false;
};

// Runs a command with the test's environment and gives what it printed, or nothing when it failed.
std::optional<std::string> outputOf(const std::string& command);

} // namespace velm::test
