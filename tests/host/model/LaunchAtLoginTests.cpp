#include "Velm_Host/model/LaunchAtLogin.h"
#include "Velm_Host/model/RestartReadiness.h"
#include "platform/system/RunningProgram.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunnableProgram.h"
#include "tests/support/TemporaryFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {
namespace {

using test::TemporaryFolder;

// The entry that "Open at Login" writes, for a program installed or still in its build folder.
class LaunchAtLoginTest : public ::testing::Test {
protected:
    // The program at `relative` under the test's folder, written as an entry.
    std::string written(const std::string& relative) {
        const LaunchAtLogin launch(folder / "autostart", folder / relative);
        EXPECT_EQ(launch.set(true), std::nullopt);
        return TemporaryFolder::readFile(launch.entryFile());
    }

    TemporaryFolder folder;
    LogCapture log;
};

TEST_F(LaunchAtLoginTest, AnInstalledProgramIsNamedWithoutAWord) {
    const auto entry = written("usr/bin/velm-host");
    EXPECT_NE(entry.find("\nExec=" + (folder / "usr/bin/velm-host").string() + "\n"), std::string::npos);
    EXPECT_FALSE(log.contains("build folder"));
}

TEST_F(LaunchAtLoginTest, AProgramInABuildFolderIsNamedAndTheLogSaysSo) {
    std::filesystem::create_directories(folder / "velm/build/release");
    TemporaryFolder::writeFile(folder / "velm/build/release/CMakeCache.txt", "");
    const auto program = folder / "velm/build/release/velm-host";

    const auto entry = written("velm/build/release/velm-host");

    EXPECT_NE(entry.find("\nExec=" + program.string() + "\n"), std::string::npos);
    EXPECT_TRUE(log.contains("host: the autostart entry points into a build folder: " + program.string()));
}

TEST_F(LaunchAtLoginTest, TheEntryPassesTheDesktopEntryValidator) {
    if (access("/usr/bin/desktop-file-validate", X_OK) != 0) {
        GTEST_SKIP() << "desktop-file-validate is missing (Debian package desktop-file-utils)";
    }
    // A path that needs the Exec key's quoting, and one that does not.
    for (const std::string program : {"usr/bin/velm-host", "my \"builds\"/$HOME `x` \\y 100%/velm-host",
                                      "line\nbreak\tand tab/velm-host"}) {
        written(program);
        const auto said = test::outputOf("desktop-file-validate '" +
                                         (folder / "autostart/velm-host.desktop").string() + "' 2>&1");
        EXPECT_EQ(said, "") << program;
    }
}

// The autostart folder is the desktop's, which other programs write into too: it is made like any
// folder, kept as the user set it, and followed where a dotfile manager linked it elsewhere.
TEST_F(LaunchAtLoginTest, TheAutostartFolderIsTakenAsTheUserKeepsIt) {
    const mode_t mask = umask(0);
    umask(mask);
    const auto modeOf = [](const std::filesystem::path& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    };

    const LaunchAtLogin made(folder / "config/autostart", "/usr/bin/velm-host");
    EXPECT_EQ(made.set(true), std::nullopt);
    EXPECT_EQ(modeOf(folder / "config"), 0755 & ~mask);
    EXPECT_EQ(modeOf(folder / "config/autostart"), 0755 & ~mask);

    ASSERT_EQ(chmod((folder / "config/autostart").c_str(), 0775), 0);
    EXPECT_EQ(made.set(true), std::nullopt);
    EXPECT_EQ(modeOf(folder / "config/autostart"), 0775u);

    std::filesystem::create_directories(folder / "dotfiles/autostart");
    std::filesystem::create_directory_symlink(folder / "dotfiles/autostart", folder / "linked");
    const LaunchAtLogin linked(folder / "linked", "/usr/bin/velm-host");
    EXPECT_EQ(linked.set(true), std::nullopt);
    EXPECT_EQ(TemporaryFolder::readFile(folder / "dotfiles/autostart/velm-host.desktop"), linked.entry());
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "linked"));
    EXPECT_FALSE(std::filesystem::exists(folder / "dotfiles/autostart/velm-host.desktop.tmp"));
    EXPECT_EQ(linked.set(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder / "dotfiles/autostart/velm-host.desktop"));
}

// A line break in the path would end the Exec line early and leave the rest as a stray line.
TEST_F(LaunchAtLoginTest, LineBreaksInThePathAreEscapedAndOtherControlsRefused) {
    const auto entry = written("line\nbreak/velm-host");
    EXPECT_NE(entry.find("\nExec=\"" + (folder / "line").string() + "\\nbreak/velm-host\"\nTerminal=false\n"),
              std::string::npos)
        << entry;

    for (const std::string program : {"escape\x1b[0m/velm-host", "latin1-\xe9t\xe9/velm-host"}) {
        const LaunchAtLogin launch(folder / "refused", folder / program);
        EXPECT_NE(launch.set(true), std::nullopt) << program;
        EXPECT_FALSE(std::filesystem::exists(launch.entryFile())) << program;
    }
}

// An entry in the system's autostart folder starts the host too: switching off must hide it, not only
// remove the user's own. The folders are the standard ones, as the program finds them.
TEST_F(LaunchAtLoginTest, SwitchingOffHidesTheSystemsEntryToo) {
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto configHome = variable("XDG_CONFIG_HOME");
    const auto configDirs = variable("XDG_CONFIG_DIRS");
    setenv("XDG_CONFIG_HOME", (folder / "home").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (folder / "system").c_str(), 1);
    std::filesystem::create_directories(folder / "system/autostart");
    TemporaryFolder::writeFile(
        folder / "system/autostart/velm-host.desktop",
        "[Desktop Entry]\nType=Application\nName=Velm Host\nExec=" + test::runnableProgram().string() + "\n");
    auto sources = RestartReadiness::Sources::standard();
    sources.userName = "ann";
    const auto launch = LaunchAtLogin::standard();

    EXPECT_TRUE(RestartReadiness::read(sources).opensAtLogin);
    EXPECT_EQ(launch.set(false), std::nullopt);
    EXPECT_FALSE(RestartReadiness::read(sources).opensAtLogin);
    EXPECT_EQ(launch.set(true), std::nullopt);
    EXPECT_TRUE(RestartReadiness::read(sources).opensAtLogin);

    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    };
    restore("XDG_CONFIG_HOME", configHome);
    restore("XDG_CONFIG_DIRS", configDirs);
}

// A package upgrade replaces the program's file while it runs: the kernel then names the old file
// "<path> (deleted)", and the entry must name the path, where the new program now is.
TEST(RunningProgramTest, AProgramReplacedWhileItRunsIsNamedByItsPath) {
    TemporaryFolder folder;
    TemporaryFolder::writeFile(folder / "velm-host", "");
    EXPECT_EQ(RunningProgram::fromLink(folder / "velm-host (deleted)"), folder / "velm-host");
    EXPECT_EQ(RunningProgram::fromLink(folder / "velm-host"), folder / "velm-host");
    EXPECT_EQ(RunningProgram::fromLink(folder / "gone (deleted)"), std::nullopt) << "removed";
    EXPECT_TRUE(RunningProgram::path());
}

// The program's file replaced while it runs (a package upgrade, a rebuild) or removed: the entry
// names the path it was started from, never the kernel's name for the gone file.
TEST(LaunchAtLoginProgramTest, TheEntryNamesTheProgramsPathAfterItsFileIsReplaced) {
    TemporaryFolder folder;
    const auto program = folder / "velm-host";
    const auto install = [&] {
        std::filesystem::remove(program);
        std::filesystem::copy_file(VELM_LAUNCH_ENTRY_PROGRAM, program);
    };
    install();
    const auto child = test::ChildProcess::start({program.string()}, {}, test::ChildProcess::Output::piped);
    ASSERT_TRUE(child);
    const auto named = [&]() -> std::optional<std::string> {
        const auto exec = child->writeLine("?") ? child->readLine() : std::nullopt;
        return exec ? LaunchAtLogin::programIn(*exec) : std::nullopt;
    };
    EXPECT_EQ(named(), program.string());

    install();
    EXPECT_EQ(named(), program.string());
    // Gone for good: the program by its name, where the desktop looks for it.
    std::filesystem::remove(program);
    EXPECT_EQ(named(), "velm-host");
}

} // namespace
} // namespace velm
