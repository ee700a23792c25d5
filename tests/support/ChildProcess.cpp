#include "tests/support/ChildProcess.h"

#include "tests/support/Blocking.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velm::test {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    return start(arguments, environment);
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments,
                                                  const std::vector<std::string>& environment) {
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        return nullptr;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (result != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, toChild[1], fromChild[0]));
}

ChildProcess::~ChildProcess() {
    close(input_);
    close(output_);
    if (reaped_) {
        return;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    if (!Blocking::waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; },
                             std::chrono::seconds(1))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
}

std::optional<int> ChildProcess::terminate(std::chrono::milliseconds wait) {
    kill(pid_, SIGTERM);
    int status = 0;
    if (!Blocking::waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, wait)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return std::nullopt;
    }
    reaped_ = true;
    return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
}

bool ChildProcess::writeLine(const std::string& line) {
    // Short lines go into a pipe whole.
    const std::string data = line + "\n";
    return write(input_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    std::string line;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd descriptor{output_, POLLIN, 0};
        char next = 0;
        if (left.count() < 0 || poll(&descriptor, 1, static_cast<int>(left.count())) != 1 ||
            read(output_, &next, 1) != 1) {
            return std::nullopt;
        }
        if (next == '\n') {
            return line;
        }
        line += next;
    }
}

} // namespace velm::test
