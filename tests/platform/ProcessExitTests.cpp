#include "platform/dispatch/Queue.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velm {
namespace {

using namespace std::chrono_literals;

// The child's half: set up a scenario on the pool, then exit while it is busy.
// Runs only when the parent below starts this program again with the scenario
// in VELM_EXIT_SCENARIO.
TEST(ProcessExitChild, Run) {
    const char* scenario = std::getenv("VELM_EXIT_SCENARIO");
    if (!scenario) {
        GTEST_SKIP() << "runs only as the child of the ProcessExit tests";
    }
    auto queue = Queue::make("velm.test.exit");
    // Pending timers and plenty of queued work.
    for (int i = 0; i < 100; ++i) {
        queue->postAfter(std::chrono::hours(1), [] {});
        queue->post([] { std::this_thread::sleep_for(1ms); });
        Queue::global()->post([] {});
    }
    if (std::strcmp(scenario, "stuck") == 0) {
        // Work that never ends; the gate is never destroyed so it stays valid.
        auto* never = new Gate();
        Gate entered;
        Queue::make("velm.test.stuck")->post([&entered, never] {
            entered.open();
            never->wait(std::chrono::hours(1));
        });
        entered.wait();
        std::exit(0);
    }
    if (std::strcmp(scenario, "from-pool") == 0) {
        queue->post([] { std::exit(0); });
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
    std::exit(0);
}

// Starts this program again on the child test and waits a bounded time for it.
// Returns its wait status, or -1 when it had to be killed.
int runChild(const std::string& scenario) {
    const std::string env = "VELM_EXIT_SCENARIO=" + scenario;
    std::string filter = "--gtest_filter=ProcessExitChild.Run";
    std::string self = "/proc/self/exe";
    char* argv[] = {self.data(), filter.data(), nullptr};

    std::vector<char*> envp;
    for (char** entry = environ; *entry; ++entry) {
        envp.push_back(*entry);
    }
    envp.push_back(const_cast<char*>(env.c_str()));
    envp.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0) {
        ADD_FAILURE() << "could not start the child";
        return -1;
    }
    int status = 0;
    const bool ended = Blocking::waitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 30s);
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return status;
}

void expectCleanExit(int status) {
    ASSERT_NE(status, -1) << "the process hung at exit";
    ASSERT_TRUE(WIFEXITED(status)) << "the process died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ProcessExit, EndsCleanlyWithPendingAndQueuedWork) { expectCleanExit(runChild("busy")); }

TEST(ProcessExit, EndsWhenWorkNeverFinishes) { expectCleanExit(runChild("stuck")); }

TEST(ProcessExit, EndsWhenExitIsCalledFromPoolWork) { expectCleanExit(runChild("from-pool")); }

} // namespace
} // namespace velm
