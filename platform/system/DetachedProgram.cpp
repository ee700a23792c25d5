#include "platform/system/DetachedProgram.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

constexpr int firstInherited = 3;

// Between fork and exec only system calls: the other threads' locks may be held for good.
void closeAllOnExec(int upTo) {
    if (::close_range(firstInherited, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    // A kernel older than the flag: one by one.
    for (int fd = firstInherited; fd < upTo; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
        }
    }
}

// This process ignores broken pipes, and a program would inherit that: it ends by them as any program
// started from a desktop does.
void defaultBrokenPipes() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &standard, nullptr);
}

// Tells the waiting parent why the program did not start, and ends this copy of the process.
[[noreturn]] void fail(int pipe) {
    const int error = errno;
    [[maybe_unused]] const auto written = ::write(pipe, &error, sizeof error);
    ::_exit(127);
}

int descriptorLimit() {
    constexpr rlim_t highest = 1 << 20;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return static_cast<int>(highest);
    }
    return static_cast<int>(std::min(limit.rlim_cur, highest));
}

} // namespace

bool DetachedProgram::start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int limit = descriptorLimit();

    // The program says through this pipe why it could not start; it closes unwritten once it runs.
    int failure[2];
    if (::pipe2(failure, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(failure[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            fail(failure[1]);
        }
        if (grandchild > 0) {
            ::_exit(0);
        }
        closeAllOnExec(limit);
        defaultBrokenPipes();
        ::execv(argv[0], argv.data());
        fail(failure[1]);
    }
    ::close(failure[1]);
    bool started = child > 0;
    if (started) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        int error = 0;
        ssize_t read = 0;
        while ((read = ::read(failure[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        started = read == 0;
    }
    ::close(failure[0]);
    return started;
}

} // namespace velm
