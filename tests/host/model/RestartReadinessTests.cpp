#include "Velm_Host/model/IniFile.h"
#include "Velm_Host/model/LaunchAtLogin.h"
#include "Velm_Host/model/RestartReadiness.h"
#include "tests/support/RunnableProgram.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velm {
namespace {

using test::TemporaryFolder;

// Stand-ins for the autostart folders (the user's, then two of the system's) and for the root under
// which display managers are installed.
class RestartReadinessTest : public ::testing::Test {
protected:
    void write(const std::string& file, const std::string& contents) {
        std::filesystem::create_directories((folder / file).parent_path());
        TemporaryFolder::writeFile(folder / file, contents);
    }
    void remove(const std::string& file) { std::filesystem::remove_all(folder / file); }
    RestartReadiness read(const std::string& root = "") {
        return RestartReadiness::read(
            {.autostartFolders = {folder / "user/autostart", folder / "xdg/autostart",
                                  folder / "etc/xdg/autostart"},
             .systemRoot = folder / root,
             .userName = "ann"});
    }
    std::optional<bool> autologin(const std::string& root) { return read(root).logsInAutomatically; }

    TemporaryFolder folder;
    // An entry's line naming a program that is there.
    const std::string exec = "Exec=" + test::runnableProgram().string() + "\n";
};

TEST_F(RestartReadinessTest, UnknownWithoutADisplayManager) {
    EXPECT_EQ(read(), RestartReadiness{});
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\n" + exec);
    EXPECT_TRUE(read().opensAtLogin);
}

TEST_F(RestartReadinessTest, OpensAtLoginOnlyWhileTheEntryThatCountsIsEnabled) {
    write("etc/xdg/autostart/velm-host.desktop", "[Desktop Entry]\n" + exec);
    EXPECT_TRUE(read().opensAtLogin) << "a system-wide entry starts it too";
    write("xdg/autostart/velm-host.desktop", "[Desktop Entry]\nHidden=true\n");
    EXPECT_FALSE(read().opensAtLogin) << "a more important system folder hides it";
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\n" + exec + "Hidden=false\n");
    EXPECT_TRUE(read().opensAtLogin) << "the user's folder wins";

    for (const char* off :
         {"X-GNOME-Autostart-enabled=false", "X-GNOME-Autostart-enabled = 0", "Hidden=true", "Hidden=1"}) {
        write("user/autostart/velm-host.desktop", "[Desktop Entry]\n" + exec + off + "\n");
        EXPECT_FALSE(read().opensAtLogin) << off;
    }
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\n" + exec + "[Other]\nHidden=true\n");
    EXPECT_TRUE(read().opensAtLogin) << "only the entry's own keys count";

    // An entry that cannot be read hides the others all the same, and a pipe never stalls the read.
    remove("user/autostart/velm-host.desktop");
    std::filesystem::create_directories(folder / "user/autostart/velm-host.desktop");
    EXPECT_FALSE(read().opensAtLogin);
    remove("user/autostart/velm-host.desktop");
    ASSERT_EQ(mkfifo((folder / "user/autostart/velm-host.desktop").c_str(), 0600), 0);
    EXPECT_FALSE(read().opensAtLogin);
}

// An entry whose program has moved or whose build folder was cleaned starts nothing: the window must
// offer the fix.
TEST_F(RestartReadinessTest, AnEntryOpensAtLoginOnlyWhileItsProgramIsThereToRun) {
    const auto entryNaming = [&](const std::string& execValue) {
        write("user/autostart/velm-host.desktop", "[Desktop Entry]\nExec=" + execValue + "\n");
        return read().opensAtLogin;
    };
    const auto program = folder / "build/velm-host";
    EXPECT_FALSE(entryNaming(program.string())) << "not there";
    write("build/velm-host", "");
    EXPECT_FALSE(entryNaming(program.string())) << "not executable";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    EXPECT_TRUE(entryNaming(program.string()));
    EXPECT_TRUE(entryNaming(program.string() + " --hidden %U"));
    EXPECT_FALSE(entryNaming((folder / "build").string())) << "a folder";
    EXPECT_FALSE(entryNaming("velm-no-such-program")) << "a name the PATH does not hold";
    EXPECT_TRUE(entryNaming("sh -c true")) << "a name the PATH holds";
    for (const std::string& broken : std::vector<std::string>{"", "%U", "\"" + program.string(),
                                                              "\"" + program.string() + "\"x", "\\q"}) {
        EXPECT_FALSE(entryNaming(broken)) << broken;
    }
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\nType=Application\n");
    EXPECT_FALSE(read().opensAtLogin) << "no program at all";

    // Paths that need the Exec key's quoting, as "Open at Login" writes them.
    for (const std::string relative :
         {"my \"builds\"/$HOME `x` \\y 100%/velm-host", "line\nbreak\tand tab/velm-host"}) {
        const auto quoted = folder / relative;
        std::filesystem::create_directories(quoted.parent_path());
        TemporaryFolder::writeFile(quoted, "");
        const LaunchAtLogin launch(folder / "user/autostart", quoted);
        ASSERT_EQ(launch.set(true), std::nullopt);
        EXPECT_FALSE(read().opensAtLogin) << relative << ": not executable yet";
        std::filesystem::permissions(quoted, std::filesystem::perms::owner_all);
        EXPECT_TRUE(read().opensAtLogin) << relative;
    }
}

TEST_F(RestartReadinessTest, ReadsEachDisplayManagersAutologin) {
    write("etc/gdm3/daemon.conf", "[daemon]\n# AutomaticLoginEnable=true\nAutomaticLogin = ann\n");
    EXPECT_EQ(read().logsInAutomatically, false) << "GDM logs in only when enabled";
    write("etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable=True\nAutomaticLogin=ann\n");
    EXPECT_EQ(read().logsInAutomatically, true);
    write("etc/gdm3/daemon.conf", "[security]\nAutomaticLoginEnable=true\nAutomaticLogin=ann\n");
    write("etc/lightdm/lightdm.conf", "[Seat:*]\nautologin-user=bob\n");
    EXPECT_EQ(read().logsInAutomatically, false) << "another section, another user";
    write("etc/sddm.conf", "[Autologin]\nUser=ann\nSession=plasma\n");
    EXPECT_EQ(read().logsInAutomatically, true);
    EXPECT_EQ(read().startsAfterPowerFailure, std::nullopt);
}

TEST_F(RestartReadinessTest, SddmReadsItsDropInsInOrderThenItsMainFile) {
    write("sddm/usr/lib/sddm/sddm.conf.d/10-autologin.conf", "[Autologin]\nUser=ann\n");
    EXPECT_EQ(autologin("sddm"), true);
    write("sddm/etc/sddm.conf.d/b-off", "[Autologin]\nUser=\n");
    EXPECT_EQ(autologin("sddm"), false) << "the administrator's drop-in comes later";
    write("sddm/etc/sddm.conf.d/a-on.conf", "[Autologin]\nUser=ann\n");
    EXPECT_EQ(autologin("sddm"), false) << "files of a folder are read in the order of their names";
    write("sddm/etc/sddm.conf", "[Autologin]\nUser=ann\n");
    EXPECT_EQ(autologin("sddm"), true) << "the main file comes last";
}

TEST_F(RestartReadinessTest, LightdmReadsItsDropInsAndTheFirstSeatsSection) {
    write("lightdm/usr/share/lightdm/lightdm.conf.d/50-autologin.conf",
          "[SeatDefaults]\nautologin-user=ann\n");
    EXPECT_EQ(autologin("lightdm"), true) << "the old name of the section for every seat";
    write("lightdm/etc/lightdm/lightdm.conf.d/README", "[Seat:*]\nautologin-user=\n");
    EXPECT_EQ(autologin("lightdm"), true) << "only .conf files are drop-ins";
    write("lightdm/etc/lightdm/lightdm.conf", "[Seat:*]\nautologin-user=bob\n");
    EXPECT_EQ(autologin("lightdm"), false);
    write("lightdm/etc/lightdm/lightdm.conf.d/60-seat0.conf", "[Seat:seat0]\nautologin-user=ann\n");
    EXPECT_EQ(autologin("lightdm"), true) << "the seat's own section wins whatever file it is in";
}

TEST_F(RestartReadinessTest, GdmReadsTheOneFileItsDistributionKeeps) {
    write("fedora/etc/gdm/custom.conf",
          "[daemon]\nTimedLoginEnable=true\nTimedLogin=ann\nTimedLoginDelay=10\n");
    EXPECT_EQ(autologin("fedora"), true) << "a timed login logs in by itself too";
    write("ubuntu/etc/gdm3/custom.conf", "[daemon]\nAutomaticLoginEnable=1\nAutomaticLogin=ann\n");
    EXPECT_EQ(autologin("ubuntu"), true);
    write("ubuntu/etc/gdm/custom.conf", "[daemon]\nAutomaticLoginEnable=false\n");
    EXPECT_EQ(autologin("ubuntu"), true) << "only the first file found is GDM's";
}

TEST_F(RestartReadinessTest, AnInstalledDisplayManagerWithoutAnswersReadsAsNo) {
    for (const char* program : {"usr/bin/sddm", "usr/sbin/lightdm", "usr/sbin/gdm3", "usr/sbin/gdm"}) {
        const std::string root = std::string("bare-") + std::filesystem::path(program).filename().string();
        write(root + "/" + program, "");
        EXPECT_EQ(autologin(root), false) << program;
    }
    std::filesystem::create_directories(folder / "empty/etc/sddm.conf.d");
    EXPECT_EQ(autologin("empty"), false) << "an empty drop-in folder";
    std::filesystem::create_directories(folder / "folder/etc/gdm3/daemon.conf");
    EXPECT_EQ(autologin("folder"), false) << "a settings file that cannot be read";
    write("words/etc/gdm3/daemon.conf", "[daemon]\nAutomaticLoginEnable=yes\nAutomaticLogin=ann\n");
    EXPECT_EQ(autologin("words"), false) << "a value GDM would not take";
    write("nobody/etc/sddm.conf", "[Autologin]\nUser=Ann\n");
    EXPECT_EQ(autologin("nobody"), false) << "user names are compared exactly";
}

TEST(IniFileTest, KeepsTheLastValueOfAKeyInItsSection) {
    const auto file =
        IniFile::parse("top=1\n[a]\n k = one \r\n; k=two\n[b]\nk=three\n[a]\nk=four\nbroken line\n[");
    EXPECT_EQ(file.value("", "top"), "1");
    EXPECT_EQ(file.value("a", "k"), "four");
    EXPECT_EQ(file.value("b", "k"), "three");
    EXPECT_EQ(file.value("c", "k"), std::nullopt);
}

TEST(IniFileTest, LaterFilesWinAndAnOldSectionNameFillsGaps) {
    auto file = IniFile::parse("[old]\nk=old\nonly=old\n[new]\nk=new\n");
    file.mergeSection("old", "new");
    EXPECT_EQ(file.value("new", "k"), "new");
    EXPECT_EQ(file.value("new", "only"), "old");
    EXPECT_EQ(file.value("old", "only"), std::nullopt);
    file.overlay(IniFile::parse("[new]\nonly=later\n[more]\nk=1\n"));
    EXPECT_EQ(file.value("new", "only"), "later");
    EXPECT_EQ(file.value("new", "k"), "new");
    EXPECT_EQ(file.value("more", "k"), "1");
}

TEST(IniFileTest, ReadsOnlyWholeRegularFilesOfBoundedSize) {
    TemporaryFolder folder;
    TemporaryFolder::writeFile(folder / "fits", std::string(IniFile::maxBytes - 4, '#') + "\nk=v");
    EXPECT_EQ(IniFile::read(folder / "fits")->value("", "k"), "v");
    TemporaryFolder::writeFile(folder / "large", std::string(IniFile::maxBytes + 1, '#'));
    EXPECT_FALSE(IniFile::read(folder / "large"));
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(IniFile::read(folder / "pipe"));
    EXPECT_FALSE(IniFile::read(folder / "missing"));
}

} // namespace
} // namespace velm
