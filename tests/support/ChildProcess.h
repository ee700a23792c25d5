#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velm::test {

// A program a test runs beside itself (a bus, a fake server, a small window), ended by its process id
// when the test lets go of it: asked to end, and killed when it has not within two seconds.
class ChildProcess {
public:
    enum class Output {
        shown,     // where the test's own output goes
        discarded, // for a program whose own children may outlive it and would keep the test's output open
        piped,     // talked to line by line over its standard input and output
        pipedWithErrors, // the same, with its standard error (where it logs) on the output's pipe
    };
    // Whether the environment entries given are added to the test's own, or are the whole of it.
    enum class Environment { added, only };

    // Runs `arguments` (the program first, looked up on PATH) with the test's environment and the
    // `environment` entries ("NAME=value") replacing or adding to it, or with those entries only.
    // Nothing when it cannot start.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment = {},
                                               Output output = Output::shown,
                                               Environment mode = Environment::added);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once it has ended by itself.
    bool isRunning();
    // Sends SIGTERM and waits for the end: the exit status, or nothing when it did not exit by itself
    // within `wait` (it is killed then) or died of a signal.
    std::optional<int> terminate(std::chrono::milliseconds wait);
    // Waits for it to end by itself: its exit status, or nothing when it did not within `wait` or died
    // of a signal.
    std::optional<int> waitForExit(std::chrono::milliseconds wait);
    // The same with another signal (SIGHUP, as from a terminal that closed).
    std::optional<int> endWith(int signal, std::chrono::milliseconds wait);
    // Closes this end of its output, as a reader that went away: what it prints next meets a broken pipe.
    void stopReading();

    // For a piped program: a line to its input, and the next line it printed (nothing when none came
    // within `wait`).
    bool writeLine(const std::string& line);
    std::optional<std::string> readLine(std::chrono::milliseconds wait = std::chrono::seconds(10));

private:
    ChildProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), output_(output) {}

    const pid_t pid_;
    const int input_;
    int output_;
    bool hasEnded_ = false;
};

// Runs a command with the test's environment and gives what it printed, or nothing when it failed.
std::optional<std::string> outputOf(const std::string& command);

} // namespace velm::test
