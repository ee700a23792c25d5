#include "platform/system/DetachedProgram.h"
#include "tests/support/Blocking.h"
#include "tests/support/TemporaryFolder.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace velm {
namespace {

// The host ignores broken pipes; a program it starts (a settings panel) is ended by them as any
// program started from a desktop is.
TEST(DetachedProgramTest, AProgramStartedIgnoresNoSignalOfThisProcess) {
    test::TemporaryFolder folder;
    const auto said = folder / "ignored";
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    const bool started = DetachedProgram::start(
        "/bin/sh", {"-c", "sed -n 's/^SigIgn:[[:space:]]*//p' /proc/self/status >'" + said.string() +
                              ".part' && mv '" + said.string() + ".part' '" + said.string() + "'"});
    std::signal(SIGPIPE, previous);
    ASSERT_TRUE(started);
    ASSERT_TRUE(Blocking::waitUntil([&] { return std::filesystem::exists(said); }));

    const auto ignored = std::stoull(test::TemporaryFolder::readFile(said), nullptr, 16);
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u) << std::hex << ignored;
}

} // namespace
} // namespace velm
