#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velm::test {

// A helper program a test runs (a bus daemon, a fake server), talked to over its standard input and
// output, and ended by its process id when the object goes: SIGTERM, then SIGKILL after a second.
class ChildProcess {
public:
    // Runs `arguments[0]` (a full path); nothing when it cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments);

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool writeLine(const std::string& line);
    // The next line it printed, or nothing when none came within `wait`.
    std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::seconds(10));

private:
    ChildProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}

    const pid_t pid_;
    const int input_;
    const int output_;
};

} // namespace velm::test
