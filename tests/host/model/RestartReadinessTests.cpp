#include "Velm_Host/model/IniFile.h"
#include "Velm_Host/model/RestartReadiness.h"
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
};

TEST_F(RestartReadinessTest, UnknownWithoutADisplayManager) {
    EXPECT_EQ(read(), RestartReadiness{});
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\n");
    EXPECT_TRUE(read().opensAtLogin);
}

TEST_F(RestartReadinessTest, OpensAtLoginOnlyWhileTheEntryThatCountsIsEnabled) {
    write("etc/xdg/autostart/velm-host.desktop", "[Desktop Entry]\nExec=velm-host\n");
    EXPECT_TRUE(read().opensAtLogin) << "a system-wide entry starts it too";
    write("xdg/autostart/velm-host.desktop", "[Desktop Entry]\nHidden=true\n");
    EXPECT_FALSE(read().opensAtLogin) << "a more important system folder hides it";
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\nExec=velm-host\nHidden=false\n");
    EXPECT_TRUE(read().opensAtLogin) << "the user's folder wins";

    for (const char* off :
         {"X-GNOME-Autostart-enabled=false", "X-GNOME-Autostart-enabled = 0", "Hidden=true", "Hidden=1"}) {
        write("user/autostart/velm-host.desktop",
              std::string("[Desktop Entry]\nExec=velm-host\n") + off + "\n");
        EXPECT_FALSE(read().opensAtLogin) << off;
    }
    write("user/autostart/velm-host.desktop", "[Desktop Entry]\n[Other]\nHidden=true\n");
    EXPECT_TRUE(read().opensAtLogin) << "only the entry's own keys count";

    // An entry that cannot be read hides the others all the same, and a pipe never stalls the read.
    remove("user/autostart/velm-host.desktop");
    std::filesystem::create_directories(folder / "user/autostart/velm-host.desktop");
    EXPECT_FALSE(read().opensAtLogin);
    remove("user/autostart/velm-host.desktop");
    ASSERT_EQ(mkfifo((folder / "user/autostart/velm-host.desktop").c_str(), 0600), 0);
    EXPECT_FALSE(read().opensAtLogin);
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
