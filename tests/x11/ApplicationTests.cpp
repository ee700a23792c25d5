#include "platform/desktop/GioApplicationCatalog.h"
#include "platform/desktop/GioApplicationLauncher.h"
#include "platform/desktop/RunningApplications.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/image/ThemeIcon.h"
#include "platform/x11/X11WindowList.h"
#include "tests/support/Blocking.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/x11/Screenshot.h"

#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velm {
namespace {

const char* const iconSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">
<rect x="0" y="0" width="16" height="16" rx="3" fill="#1e90ff"/><circle cx="8" cy="8" r="4" fill="#ffffff"/></svg>)";

// One XDG data folder for the whole process, made before GIO and Qt first look (they read the
// folders once): applications to show, to hide in three ways, and an icon in the fallback theme.
struct Applications {
    Applications() {
        const auto data = folder.path();
        std::filesystem::create_directories(data / "applications");
        std::filesystem::create_directories(data / "icons/hicolor/scalable/apps");
        test::TemporaryFolder::writeFile(data / "icons/hicolor/scalable/apps/velm-test-icon.svg", iconSvg);
        test::TemporaryFolder::writeFile(data / "logo.svg", iconSvg);
        test::TemporaryFolder::writeFile(data / "icons/hicolor/index.theme",
                                         "[Icon Theme]\nName=Hicolor\nDirectories=scalable/apps\n\n"
                                         "[scalable/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        test::TemporaryFolder::writeFile(data / "start.sh", "#!/bin/sh\necho \"started $#\" > '" +
                                                                (data / "started.txt").string() + "'\n");
        std::filesystem::permissions(data / "start.sh", std::filesystem::perms::owner_all);
        entry("velm-editor", "Name=Velm Editor\nName[de]=Velm Bearbeiter\nIcon=velm-test-icon\nExec=" +
                                 (data / "start.sh").string() + " %f\nStartupWMClass=VelmEditor\n");
        entry("velm-tests", "Name=Velm Tests\nIcon=" + (data / "logo.svg").string() +
                                "\nExec=" + std::filesystem::read_symlink("/proc/self/exe").string() + "\n");
        entry("velm-menu-only", "Name=Not In Menus\nExec=true\nNoDisplay=true\n");
        entry("velm-removed", "Name=Removed\nExec=true\nHidden=true\n");
        entry("velm-kde", "Name=KDE Only\nExec=true\nOnlyShowIn=KDE;\n");
        setenv("XDG_DATA_DIRS", data.c_str(), 1);
        setenv("XDG_DATA_HOME", (data / "home").c_str(), 1);
        setenv("LANGUAGE", "de", 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    void entry(const std::string& id, const std::string& fields) const {
        test::TemporaryFolder::writeFile(folder / "applications" / (id + ".desktop"),
                                         "[Desktop Entry]\nType=Application\n" + fields);
    }

    static Applications& shared() {
        static Applications applications;
        return applications;
    }

    test::TemporaryFolder folder;
};

QGuiApplication& guiApplication() {
    Applications::shared();
    static int argc = 1;
    static char name[] = "x11_tests";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    return application;
}

std::vector<std::string> ids(const std::vector<DesktopApp>& apps) {
    std::vector<std::string> result;
    for (const auto& app : apps) {
        result.push_back(app.id);
    }
    return result;
}

TEST(Applications, ListsTheEntriesToShowByTheirLocalisedNames) {
    const auto& data = Applications::shared().folder;
    GioApplicationCatalog catalog;
    const auto installed = catalog.installed();
    ASSERT_EQ(ids(installed), (std::vector<std::string>{"velm-editor.desktop", "velm-tests.desktop"}));
    EXPECT_EQ(installed[0].name, "Velm Bearbeiter");
    EXPECT_EQ(installed[0].icon, "velm-test-icon");
    EXPECT_EQ(installed[0].windowClass, "VelmEditor");
    EXPECT_EQ(installed[1].icon, (data / "logo.svg").string());
    EXPECT_TRUE(catalog.find("velm-kde.desktop"));
    EXPECT_FALSE(catalog.find("velm-nowhere.desktop"));
}

TEST(Applications, LaunchesAnEntryAndNoticesWhenItQuits) {
    const auto& data = Applications::shared().folder;
    const auto queue = std::make_shared<ManualQueue>();
    const auto launcher = GioApplicationLauncher::make(queue);
    std::vector<std::uint64_t> ended;
    launcher->setOnEnded([&](std::uint64_t number) { ended.push_back(number); });
    EXPECT_EQ(launcher->launch("velm-nowhere.desktop").outcome, LaunchResult::Outcome::unknownApplication);

    const auto result = launcher->launch("velm-editor.desktop");
    ASSERT_EQ(result.outcome, LaunchResult::Outcome::launched);
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return !ended.empty();
    }));
    EXPECT_EQ(ended, std::vector{result.number});
    EXPECT_EQ(test::TemporaryFolder::readFile(data / "started.txt"), "started 0\n")
        << "%f without files is dropped";
}

TEST(Applications, FindsRunningOnesByWindowClassOrProgram) {
    std::string reason;
    const auto desktop = test::X11TestDesktop::open(reason);
    if (!desktop) {
        GTEST_SKIP() << reason;
    }
    Applications::shared();
    const auto editor = desktop->makeWindow("VelmEditor", 0);
    const auto tests = desktop->makeWindow("SomethingElse", getpid());
    const auto stranger = desktop->makeWindow("Stranger", 0);
    desktop->setClientList({stranger, tests, editor, tests});
    X11WindowList windows;
    const auto owners = windows.owners();
    desktop->setClientList({});
    ASSERT_EQ(owners.size(), 4u);
    EXPECT_EQ(owners[0].className, "Stranger");
    EXPECT_EQ(owners[1].pid, getpid());

    GioApplicationCatalog catalog;
    EXPECT_EQ(ids(RunningApplications::match(owners, catalog.installed())),
              (std::vector<std::string>{"velm-tests.desktop", "velm-editor.desktop"}));
}

QImage decoded(const Bytes& png) {
    return QImage::fromData(png.data(), static_cast<int>(png.size()), "PNG");
}

TEST(ThemeIcon, DrawsAnSvgThemeIconAndAFileAt128Pixels) {
    guiApplication();
    const auto themed = ThemeIcon::png("velm-test-icon");
    ASSERT_TRUE(themed);
    const QImage picture = decoded(*themed);
    ASSERT_EQ(picture.size(), QSize(128, 128));
    EXPECT_EQ(picture.pixelColor(20, 64).name(), "#1e90ff");
    EXPECT_EQ(picture.pixelColor(64, 64).name(), "#ffffff");
    EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0) << "rounded corners stay clear";
    std::filesystem::create_directories(VELM_SCREENSHOT_DIR);
    picture.save(QString(VELM_SCREENSHOT_DIR) + "/theme-icon.png");

    const auto file = ThemeIcon::png((Applications::shared().folder / "logo.svg").string(), 64);
    ASSERT_TRUE(file);
    EXPECT_EQ(decoded(*file).size(), QSize(64, 64));
    EXPECT_FALSE(ThemeIcon::png("velm-no-such-icon"));
    EXPECT_FALSE(ThemeIcon::png(""));
}

} // namespace
} // namespace velm
