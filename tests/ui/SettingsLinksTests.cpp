#include "Velm_Host/ui/SettingsLinks.h"
#include "tests/support/TemporaryFolder.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velm {
namespace {

using Program = SettingsLinks::Program;

// A folder standing in for PATH, holding executables of the given names.
class SettingsPrograms : public testing::Test {
protected:
    std::string install(const std::string& name, const std::string& script = "#!/bin/sh\n") {
        const auto path = folder / name;
        test::TemporaryFolder::writeFile(path, script);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path.string();
    }

    SettingsLinks find(std::string_view desktop) {
        return SettingsLinks::find(desktop, {QString::fromStdString(folder.path().string())},
                                   [](const SettingsLinks::Command&) { return true; });
    }

    test::TemporaryFolder folder;
};

TEST_F(SettingsPrograms, TheDesktopsOwnProgramComesFirst) {
    EXPECT_FALSE(find("GNOME").canOpen());
    EXPECT_FALSE(find("GNOME").open(SettingsPane::power));
    const std::string gnome = install("gnome-control-center");
    const std::string kde = install("systemsettings");

    EXPECT_EQ(find("ubuntu:GNOME").command(SettingsPane::automaticLogin),
              (SettingsLinks::Command{gnome, {"users"}}));
    EXPECT_EQ(find("").command(SettingsPane::notifications),
              (SettingsLinks::Command{gnome, {"notifications"}}));
    EXPECT_EQ(find("KDE").command(SettingsPane::automaticLogin), (SettingsLinks::Command{kde, {"kcm_sddm"}}));
    EXPECT_EQ(find("X-Generic:KDE").command(SettingsPane::power),
              (SettingsLinks::Command{kde, {"powerdevilprofilesconfig"}}));
    EXPECT_EQ(find("KDEish").command(SettingsPane::power), (SettingsLinks::Command{gnome, {"power"}}))
        << "only the name KDE itself";

    std::filesystem::remove(gnome);
    EXPECT_EQ(find("GNOME").command(SettingsPane::notifications),
              (SettingsLinks::Command{kde, {"kcm_notifications"}}));
}

// A settings program installed or removed while the host runs counts from then on.
TEST_F(SettingsPrograms, TheProgramIsLookedForEachTimeALinkIsShownOrUsed) {
    const SettingsLinks links = find("GNOME");
    EXPECT_FALSE(links.canOpen());
    const std::string kde = install("systemsettings");
    EXPECT_TRUE(links.canOpen());
    EXPECT_EQ(links.command(SettingsPane::power),
              (SettingsLinks::Command{kde, {"powerdevilprofilesconfig"}}));
    const std::string gnome = install("gnome-control-center");
    EXPECT_EQ(links.command(SettingsPane::power), (SettingsLinks::Command{gnome, {"power"}}));

    std::filesystem::remove(gnome);
    std::filesystem::remove(kde);
    EXPECT_FALSE(links.canOpen());
    EXPECT_FALSE(links.open(SettingsPane::power));
}

TEST_F(SettingsPrograms, OpenStartsTheProgramDetachedWithThePane) {
    const auto written = folder / "arguments";
    const std::string program =
        install("gnome-control-center", "#!/bin/sh\necho \"$@\" > '" + written.string() + ".part'\nmv '" +
                                            written.string() + ".part' '" + written.string() + "'\n");
    const SettingsLinks links = SettingsLinks::find("GNOME", {QString::fromStdString(folder.path().string())},
                                                    SettingsLinks::startDetached);
    ASSERT_TRUE(links.open(SettingsPane::notifications));
    // The program runs on its own; wait (boundedly) for what it wrote.
    for (int i = 0; i < 500 && !std::filesystem::exists(written); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(test::TemporaryFolder::readFile(written), "notifications\n");

    EXPECT_FALSE(SettingsLinks::startDetached({(folder / "missing").string(), {}}));
}

// The settings program may outlive the host: a session's socket left open in it would keep the
// connection up after the host closed it, and the listening port taken after the host quit.
TEST_F(SettingsPrograms, TheProgramTakesNoneOfTheHostsDescriptorsWithIt) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0); // as a library would open it: kept over exec
    ASSERT_GE(socket, 0);
    struct stat identity {};
    ASSERT_EQ(::fstat(socket, &identity), 0);
    const auto written = folder / "descriptors";
    const std::string program = install(
        "gnome-control-center", "#!/bin/sh\nls -l /proc/$$/fd > '" + written.string() + ".part'\nmv '" +
                                    written.string() + ".part' '" + written.string() + "'\n");
    ASSERT_TRUE(SettingsLinks::startDetached({program, {"power"}}));
    for (int i = 0; i < 500 && !std::filesystem::exists(written); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string descriptors = test::TemporaryFolder::readFile(written);
    ::close(socket);
    EXPECT_NE(descriptors.find(" 0 -> "), std::string::npos) << descriptors;
    EXPECT_EQ(descriptors.find("socket:[" + std::to_string(identity.st_ino) + "]"), std::string::npos)
        << descriptors;
}

} // namespace
} // namespace velm
