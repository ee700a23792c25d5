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
    // The same with the environment given ("NAME=value" entries) in place of the test's.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment);

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool writeLine(const std::string& line);
    // Sends SIGTERM and waits for the end: the exit status, or nothing when it did not exit by itself
    // within `wait` (it is killed then) or died of a signal.
    std::optional<int> terminate(std::chrono::milliseconds wait);
    // The next line it printed, or nothing when none came within `wait`.
    std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::seconds(10));

private:
    ChildProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}

    const pid_t pid_;
    const int input_;
    const int output_;
    bool reaped_ = false;
};

} // namespace velm::test
