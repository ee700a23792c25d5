#include "platform/core/UserAccount.h"
#include "platform/file/InstanceLock.h"
#include "platform/net/ComputerName.h"
#include "platform/store/XdgDirs.h"
#include "tests/support/TemporaryFolder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velm {
namespace {

TEST(XdgDirsTest, ReadsTheDownloadFolderAsXdgUserDirDoes) {
    const std::filesystem::path home = "/home/ann";
    EXPECT_EQ(XdgDirs::userDir("XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n", "XDG_DOWNLOAD_DIR", home),
              home / "Fetched");
    EXPECT_EQ(XdgDirs::userDir("# mine\n  XDG_DOWNLOAD_DIR=\"/data/in coming\"", "XDG_DOWNLOAD_DIR", home),
              "/data/in coming");
    EXPECT_EQ(XdgDirs::userDir("XDG_DOWNLOAD_DIR=\"$HOME/\"", "XDG_DOWNLOAD_DIR", home), home);
    EXPECT_EQ(XdgDirs::userDir("XDG_DOWNLOAD_DIR=\"$HOME/a\\\"b\"", "XDG_DOWNLOAD_DIR", home), home / "a\"b");
    // The last entry counts; relative, unquoted, unterminated and other keys do not.
    EXPECT_EQ(XdgDirs::userDir("XDG_DOWNLOAD_DIR=\"/a\"\nXDG_DOWNLOAD_DIR=\"/b\"", "XDG_DOWNLOAD_DIR", home),
              "/b");
    for (const char* bad :
         {"XDG_DOWNLOAD_DIR=\"Downloads\"", "XDG_DOWNLOAD_DIR=/tmp", "XDG_DOWNLOAD_DIR=\"/tmp",
          "XDG_DOWNLOAD_DIRECTORY=\"/tmp\"", "XDG_MUSIC_DIR=\"/tmp\"", ""}) {
        EXPECT_EQ(XdgDirs::userDir(bad, "XDG_DOWNLOAD_DIR", home), std::nullopt) << bad;
    }
}

// The password database's entry, whatever the environment claims; the home folder comes from it too
// when $HOME is unset.
TEST(UserAccountTest, IsThePasswordDatabasesNotTheEnvironments) {
    std::string named(256, '\0');
    FILE* id = popen("id -un", "r");
    ASSERT_NE(id, nullptr);
    named.resize(std::fread(named.data(), 1, named.size(), id));
    pclose(id);
    while (!named.empty() && named.back() == '\n') {
        named.pop_back();
    }
    setenv("USER", "somebody-else", 1);
    setenv("HOME", "/nowhere/velm", 1);
    const auto account = UserAccount::current();
    ASSERT_TRUE(account);
    EXPECT_EQ(account->name, named);
    EXPECT_TRUE(account->home.is_absolute()) << account->home;
    EXPECT_NE(account->home, "/nowhere/velm");
    EXPECT_EQ(XdgDirs::home(), "/nowhere/velm");
    unsetenv("HOME");
    EXPECT_EQ(XdgDirs::home(), account->home);
}

TEST(XdgDirsTest, FallsBackToDownloadsInHome) {
    test::TemporaryFolder folder;
    setenv("HOME", folder.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    EXPECT_EQ(XdgDirs::downloadFolder(), folder / "Downloads");
    std::filesystem::create_directories(folder / "config");
    test::TemporaryFolder::writeFile(folder / "config" / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/In\"\n");
    EXPECT_EQ(XdgDirs::downloadFolder(), folder / "In");
}

TEST(XdgDirsTest, ListsTheSystemsConfigFoldersMostImportantFirst) {
    unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(XdgDirs::configDirs(), std::vector<std::filesystem::path>{"/etc/xdg"});
    setenv("XDG_CONFIG_DIRS", "/etc/xdg/xdg-plasma:relative::/etc/xdg", 1);
    EXPECT_EQ(XdgDirs::configDirs(), (std::vector<std::filesystem::path>{"/etc/xdg/xdg-plasma", "/etc/xdg"}));
    setenv("XDG_CONFIG_DIRS", "only/relative", 1);
    EXPECT_EQ(XdgDirs::configDirs(), std::vector<std::filesystem::path>{"/etc/xdg"});
}

// A runtime folder others may write in or look into (one inherited through su, a shared one) is not used:
// another user could hold the instance lock there, or plant its file.
TEST(XdgDirsTest, TakesOnlyARuntimeFolderOfThisUsersAlone) {
    test::TemporaryFolder folder;
    const auto run = folder / "run";
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    EXPECT_EQ(XdgDirs::runtimeFolder(), run);

    const std::filesystem::path fallback = "/tmp/velm-host-" + std::to_string(geteuid());
    ASSERT_EQ(chmod(run.c_str(), 01777), 0);
    EXPECT_EQ(XdgDirs::runtimeFolder(), fallback);
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(run.c_str(), 0700), 0);
        ASSERT_EQ(chown(run.c_str(), 4242, 4242), 0);
        EXPECT_EQ(XdgDirs::runtimeFolder(), fallback);
    }
    setenv("XDG_RUNTIME_DIR", "relative/run", 1);
    EXPECT_EQ(XdgDirs::runtimeFolder(), fallback);
}

TEST(ComputerNameTest, PrefersThePrettyName) {
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME=\"Ann's \\\"Desk\\\"\"\nCHASSIS=desktop\n", "box"),
              "Ann's \"Desk\"");
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME='Study'\n", "box"), "Study");
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME=\n", "box"), "box");
    EXPECT_EQ(ComputerName::pretty("", ""), "Computer");
}

// The file as systemd reads it, whoever wrote it: the name shows without quotes, blanks or line ends.
TEST(ComputerNameTest, ReadsTheFileAsTheSystemDoes) {
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME=\"Ann's Desk\"\r\nCHASSIS=laptop\r\n", "box"),
              "Ann's Desk");
    EXPECT_EQ(ComputerName::pretty("  PRETTY_HOSTNAME = 'Study'  \n# PRETTY_HOSTNAME=Old\n", "box"), "Study");
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME=Ann\\'s\\ Desk \n", "box"), "Ann's Desk");
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME=\"R\\&D \\\\ \\$5\"\n", "box"), "R\\&D \\ $5");
    EXPECT_EQ(ComputerName::pretty("PRETTY_HOSTNAME= \t\n", "box"), "box");
}

TEST(InstanceLockTest, LetsOneHolderAtATime) {
    test::TemporaryFolder folder;
    auto first = InstanceLock::acquire(folder / "lock");
    ASSERT_TRUE(std::holds_alternative<InstanceLock>(first));
    EXPECT_EQ(std::get<InstanceLock::Failure>(InstanceLock::acquire(folder / "lock")),
              InstanceLock::Failure::heldElsewhere);
    first = InstanceLock::Failure::unusable;
    EXPECT_TRUE(std::holds_alternative<InstanceLock>(InstanceLock::acquire(folder / "lock")));
    std::filesystem::create_symlink(folder / "lock", folder / "link");
    EXPECT_EQ(std::get<InstanceLock::Failure>(InstanceLock::acquire(folder / "link")),
              InstanceLock::Failure::unusable);
}

} // namespace
} // namespace velm
