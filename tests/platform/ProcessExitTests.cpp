#include "platform/dispatch/Queue.h"
#include "tests/support/Blocking.h"
#include "tests/support/Gate.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace velm {
namespace {

using namespace std::chrono_literals;

// The child's half: leave the pool busy in the way VELM_EXIT_SCENARIO names,
// then exit. Skipped unless the tests below start this program again.
TEST(ProcessExitChild, Run) {
    const char* found = std::getenv("VELM_EXIT_SCENARIO");
    if (!found) {
        GTEST_SKIP() << "runs only as the child of the ProcessExit tests";
    }
    const std::string scenario = found;
    auto queue = Queue::make("velm.test.exit");
    for (int i = 0; i < 100; ++i) {
        queue->postAfter(1h, [] {});
        queue->post([] { std::this_thread::sleep_for(1ms); });
        Queue::global()->post([] {});
    }
    if (scenario == "stuck") {
        auto* never = new Gate(); // never destroyed: the stuck work outlives everything
        auto entered = std::make_shared<Gate>();
        Queue::make("velm.test.stuck")->post([entered, never] {
            entered->open();
            never->wait(1h);
        });
        entered->wait();
    } else if (scenario == "from-pool") {
        queue->post([] { std::exit(0); });
        std::this_thread::sleep_for(1h);
    } else if (scenario == "from-background") {
        Queue::global()->post([] { std::exit(0); });
        std::this_thread::sleep_for(1h);
    }
    std::exit(0);
}

// Runs the child with a bounded wait; its wait status, or -1 when it hung.
int runChild(const std::string& scenario) {
    std::string self = "/proc/self/exe", filter = "--gtest_filter=ProcessExitChild.Run";
    std::string variable = "VELM_EXIT_SCENARIO=" + scenario;
    char* argv[] = {self.data(), filter.data(), nullptr};
    std::vector<char*> envp;
    for (char** entry = environ; *entry; ++entry) {
        envp.push_back(*entry);
    }
    envp.push_back(variable.data());
    envp.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        return -1;
    }
    int status = 0;
    if (!Blocking::waitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 30s)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return status;
}

// Pool work left busy, stuck, or calling exit() from a pool or the global queue: the child ends cleanly.
TEST(ProcessExit, EndsCleanlyWhateverWorkIsLeftOrWhereverExitIsCalled) {
    for (const char* scenario : {"busy", "stuck", "from-pool", "from-background"}) {
        const int status = runChild(scenario);
        ASSERT_NE(status, -1) << scenario << ": the child could not start or hung at exit";
        ASSERT_TRUE(WIFEXITED(status)) << scenario << ": the child died of signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << scenario;
    }
}

} // namespace
} // namespace velm
