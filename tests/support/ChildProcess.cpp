#include "tests/support/ChildProcess.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velm::test {
namespace {

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string current(*entry);
        bool replaced = false;
        for (const auto& change : changes) {
            replaced = replaced || nameOf(change) == nameOf(current);
        }
        if (!replaced) {
            merged.push_back(current);
        }
    }
    merged.insert(merged.end(), changes.begin(), changes.end());
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& string : strings) {
        result.push_back(string.data());
    }
    result.push_back(nullptr);
    return result;
}

void closeBoth(const int (&ends)[2]) {
    for (const int end : ends) {
        if (end >= 0) {
            close(end);
        }
    }
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments,
                                                  const std::vector<std::string>& environment, Output output,
                                                  Environment mode) {
    if (arguments.empty()) {
        return nullptr;
    }
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    const bool piped = output == Output::piped || output == Output::pipedWithErrors;
    if (piped && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)) {
        closeBoth(toChild);
        closeBoth(fromChild);
        return nullptr;
    }
    auto argv = arguments;
    auto envp = mode == Environment::only ? environment : mergedEnvironment(environment);
    auto argPointers = pointers(argv);
    auto envPointers = pointers(envp);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == Output::discarded) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else if (piped) {
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        if (output == Output::pipedWithErrors) {
            posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDERR_FILENO);
        }
    }
    // As a shell starts a program: a broken pipe or a closed terminal ends it unless it sees to them,
    // whatever the test ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failure = posix_spawnp(&pid, argv.front().c_str(), &actions, &attributes, argPointers.data(),
                                     envPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (piped) {
        close(toChild[0]);
        close(fromChild[1]);
    }
    if (failure != 0) {
        if (piped) {
            close(toChild[1]);
            close(fromChild[0]);
        }
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, toChild[1], fromChild[0]));
}

ChildProcess::~ChildProcess() {
    for (const int end : {input_, output_}) {
        if (end >= 0) {
            close(end);
        }
    }
    if (!isRunning()) {
        return;
    }
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (isRunning() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (isRunning()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::isRunning() {
    if (!hasEnded_ && waitpid(pid_, nullptr, WNOHANG) == pid_) {
        hasEnded_ = true;
    }
    return !hasEnded_;
}

std::optional<int> ChildProcess::terminate(std::chrono::milliseconds wait) {
    return endWith(SIGTERM, wait);
}

std::optional<int> ChildProcess::endWith(int signal, std::chrono::milliseconds wait) {
    if (!isRunning()) {
        return std::nullopt;
    }
    kill(pid_, signal);
    const auto status = waitForExit(wait);
    if (!hasEnded_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        hasEnded_ = true;
    }
    return status;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds wait) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!hasEnded_ && waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool endedHere = !hasEnded_;
    hasEnded_ = true;
    return endedHere && WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
}

void ChildProcess::stopReading() {
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
}

bool ChildProcess::writeLine(const std::string& line) {
    // Short lines go into a pipe whole.
    const std::string data = line + "\n";
    return input_ >= 0 && write(input_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    std::string line;
    while (output_ >= 0) {
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
    return std::nullopt;
}

std::optional<std::string> outputOf(const std::string& command) {
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        return std::nullopt;
    }
    std::string output;
    std::array<char, 256> buffer{};
    while (const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        output.append(buffer.data(), count);
    }
    return pclose(pipe) == 0 ? std::optional(std::move(output)) : std::nullopt;
}

} // namespace velm::test
