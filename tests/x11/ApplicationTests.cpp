#include "Velm_Host/desktop/ApplicationLists.h"
#include "platform/desktop/GioApplicationCatalog.h"
#include "platform/desktop/GioApplicationLauncher.h"
#include "platform/desktop/RunningApplications.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/image/ThemeIcon.h"
#include "platform/x11/X11WindowList.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopEntries.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/x11/Screenshot.h"

#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velm {
namespace {

std::vector<std::string> ids(const std::vector<DesktopApp>& apps) {
    std::vector<std::string> result;
    std::ranges::transform(apps, std::back_inserter(result), &DesktopApp::id);
    return result;
}

TEST(Applications, ListsTheEntriesToShowByTheirLocalisedNames) {
    const auto& data = test::DesktopEntries::shared().path();
    GioApplicationCatalog catalog;
    const auto installed = catalog.installed();
    ASSERT_EQ(ids(installed), (std::vector<std::string>{"velm-editor.desktop", "velm-tests.desktop"}));
    EXPECT_EQ(std::tuple(installed[0].name, installed[0].icon, installed[0].windowClass),
              std::tuple("Velm Bearbeiter", "velm-test-icon", "VelmEditor"));
    EXPECT_EQ(installed[1].icon, (data / "logo.svg").string());
    EXPECT_TRUE(catalog.find("velm-kde.desktop"));
    EXPECT_FALSE(catalog.find("velm-nowhere.desktop"));
}

TEST(Applications, LaunchesAnEntryAndNoticesWhenItQuits) {
    test::DesktopEntries::shared();
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
    EXPECT_EQ(test::TemporaryFolder::readFile(test::DesktopEntries::shared().started()), "started 0\n")
        << "%f without files is dropped";
}

// Applications a device starts are the person's at the computer, not the host's: a Ctrl+C or a
// hang-up aimed at the host (its terminal, its process group) must not end them along with it.
TEST(Applications, StartsEachApplicationInASessionOfItsOwn) {
    const auto& entries = test::DesktopEntries::shared();
    std::filesystem::remove(entries.session());
    const auto queue = std::make_shared<ManualQueue>();
    const auto launcher = GioApplicationLauncher::make(queue);
    bool ended = false;
    launcher->setOnEnded([&](std::uint64_t) { ended = true; });
    ASSERT_EQ(launcher->launch("velm-session.desktop").outcome, LaunchResult::Outcome::launched);
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return ended;
    }));
    std::istringstream stat(test::TemporaryFolder::readFile(entries.session()));
    long pid = 0;
    std::string name;
    char state = 0;
    long parent = 0;
    long group = 0;
    long session = 0;
    stat >> pid >> name >> state >> parent >> group >> session;
    ASSERT_GT(pid, 0) << stat.str();
    EXPECT_EQ(parent, getpid());
    EXPECT_EQ(std::pair(group, session), std::pair(pid, pid)) << "it leads a session and a group of its own";
}

std::size_t threadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(Applications, WatchesManyLaunchesWithoutAThreadEachAndReportsEveryEndOnce) {
    const auto& entries = test::DesktopEntries::shared();
    const auto queue = std::make_shared<ManualQueue>();
    const auto launcher = GioApplicationLauncher::make(queue);
    std::vector<std::uint64_t> ended;
    launcher->setOnEnded([&](std::uint64_t number) { ended.push_back(number); });
    // A first launch starts what the process starts once (the I/O pool, GIO's own threads).
    const auto first = launcher->launch("velm-editor.desktop");
    ASSERT_EQ(first.outcome, LaunchResult::Outcome::launched);
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return !ended.empty();
    }));
    ended.clear();

    const std::size_t threadsBefore = threadCount();
    constexpr std::size_t launches = 40;
    std::vector<std::uint64_t> launched;
    for (std::size_t count = 0; count < launches; ++count) {
        const auto result = launcher->launch("velm-waiter.desktop");
        ASSERT_EQ(result.outcome, LaunchResult::Outcome::launched);
        launched.push_back(result.number);
    }
    // GIO flushes each launch's notice on the session bus in GLib's task pool, whose threads come and go
    // (at most ten of them, all of which a busy machine may start at once): an exact count would race
    // with them, a thread per child cannot hide among them.
    EXPECT_LT(threadCount(), threadsBefore + launches / 2) << "every child still runs";

    test::TemporaryFolder::writeFile(entries.release(), "");
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return ended.size() >= launched.size();
    }));
    std::ranges::sort(ended);
    EXPECT_EQ(ended, launched);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "every child was reaped";
}

TEST(Applications, FindsRunningOnesByWindowClassOrProgram) {
    std::string reason;
    const auto desktop = test::X11TestDesktop::open(reason);
    if (!desktop) {
        GTEST_SKIP() << reason;
    }
    test::DesktopEntries::shared();
    const auto editor = desktop->makeWindow("VelmEditor", 0);
    const auto tests = desktop->makeWindow("SomethingElse", getpid());
    const auto stranger = desktop->makeWindow("Stranger", 0);
    desktop->setClientList({stranger, tests, editor, tests});
    X11WindowList windows;
    const auto owners = windows.owners();
    desktop->setClientList({});
    ASSERT_EQ(owners.size(), 4u);
    EXPECT_EQ(std::tuple(owners[0].className, owners[1].pid), std::tuple("Stranger", getpid()));

    GioApplicationCatalog catalog;
    EXPECT_EQ(ids(RunningApplications::match(owners, catalog.installed())),
              (std::vector<std::string>{"velm-tests.desktop", "velm-editor.desktop"}));
}

TEST(Applications, KnowsTheProgramOfAQuotedExecLine) {
    test::DesktopEntries::shared();
    GioApplicationCatalog catalog;
    const auto quoted = catalog.find("velm-quoted.desktop");
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->executable, std::filesystem::read_symlink("/proc/self/exe").string());
    const std::vector<WindowOwner> owners{{getpid(), "other", "Other"}};
    EXPECT_EQ(ids(RunningApplications::match(owners, {*quoted})),
              std::vector<std::string>{"velm-quoted.desktop"});
}

QImage decoded(const Bytes& png) {
    return QImage::fromData(png.data(), static_cast<int>(png.size()), "PNG");
}

// The test theme's icon as drawn for the device: 128 pixels a side, blue around a white middle.
QImage drawnTestIcon() {
    const auto themed = ThemeIcon::png("velm-test-icon");
    if (!themed) {
        ADD_FAILURE() << "the test theme's icon was not found";
        return {};
    }
    QImage picture = decoded(*themed);
    EXPECT_EQ(picture.size(), QSize(128, 128));
    EXPECT_EQ(picture.pixelColor(20, 64).name(), "#1e90ff");
    EXPECT_EQ(picture.pixelColor(64, 64).name(), "#ffffff");
    return picture;
}

TEST(ThemeIcon, DrawsAnSvgThemeIconAndAFileAt128Pixels) {
    test::DesktopEntries::guiApplication();
    const QImage picture = drawnTestIcon();
    EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0) << "rounded corners stay clear";
    std::filesystem::create_directories(VELM_SCREENSHOT_DIR);
    picture.save(QString(VELM_SCREENSHOT_DIR) + "/theme-icon.png");

    const auto file = ThemeIcon::png((test::DesktopEntries::shared().path() / "logo.svg").string(), 64);
    ASSERT_TRUE(file);
    EXPECT_EQ(decoded(*file).size(), QSize(64, 64));
    EXPECT_FALSE(ThemeIcon::png("velm-no-such-icon"));
    EXPECT_FALSE(ThemeIcon::png(""));
}

// An application's entry may name any file as its icon: one that is not a plain file (a pipe nobody
// writes to, a device) would hold the thread that draws icons for good.
TEST(ThemeIcon, AFileThatIsNotAPlainFileIsNoIcon) {
    test::DesktopEntries::guiApplication();
    const test::TemporaryFolder folder;
    const auto pipe = folder / "icon.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(ThemeIcon::png(pipe.string()));
    EXPECT_FALSE(ThemeIcon::png(folder.path().string()));
    EXPECT_FALSE(ThemeIcon::png("/dev/zero"));
}

// An entry may name any file as its icon: one far longer than an icon could be is not read whole
// each time the list is asked for.
TEST(ThemeIcon, AFileFarLongerThanAnyIconIsNoIcon) {
    test::DesktopEntries::guiApplication();
    const test::TemporaryFolder folder;
    std::string padded = test::DesktopEntries::iconSvg;
    padded.insert(padded.rfind("</svg>"), "<!--" + std::string(ThemeIcon::maxFileBytes, ' ') + "-->");
    test::TemporaryFolder::writeFile(folder / "padded.svg", padded);
    EXPECT_FALSE(ThemeIcon::png((folder / "padded.svg").string()));
    test::TemporaryFolder::writeFile(folder / "plain.svg", test::DesktopEntries::iconSvg);
    EXPECT_TRUE(ThemeIcon::png((folder / "plain.svg").string()));
}

// An application installed as the list is asked for may get its icon file a moment after its entry:
// a later list draws it.
TEST(ApplicationLists, DrawsAnIconThatWasNotThereAtAnEarlierList) {
    test::DesktopEntries::guiApplication();
    const test::TemporaryFolder folder;
    struct OneApplication final : ApplicationCatalog {
        DesktopApp app;
        std::vector<DesktopApp> installed() override { return {app}; }
        std::optional<DesktopApp> find(const std::string&) override { return app; }
    };
    struct NoWindows final : WindowList {
        std::vector<WindowOwner> owners() override { return {}; }
    };
    const auto catalog = std::make_shared<OneApplication>();
    catalog->app.id = "later.desktop";
    catalog->app.icon = (folder / "later.svg").string();
    const auto queue = std::make_shared<ManualQueue>();
    const auto lists = ApplicationLists::make(queue, queue, catalog, std::make_shared<NoWindows>());
    const auto icon = [&] {
        std::optional<Bytes> drawn;
        lists->installed([&](std::vector<AppInfo> apps) { drawn = apps.at(0).iconPNG; });
        queue->runUntilIdle();
        return drawn;
    };
    EXPECT_FALSE(icon());
    test::TemporaryFolder::writeFile(folder / "later.svg", test::DesktopEntries::iconSvg);
    EXPECT_TRUE(icon());
}

// The child's half of the test below: the theme icon drawn by a program whose screens have two
// device pixels per point. Skipped unless that test starts this program again.
TEST(ThemeIconChild, DrawsOnAScaledScreen) {
    if (std::getenv("VELM_THEME_ICON_CHILD") == nullptr) {
        GTEST_SKIP() << "runs only as the child of ThemeIcon.FillsItsPictureOnAScaledScreenToo";
    }
    test::DesktopEntries::guiApplication();
    ASSERT_GT(qApp->devicePixelRatio(), 1.0);
    const QImage picture = drawnTestIcon();
    EXPECT_EQ(picture.pixelColor(100, 100).alpha(), 255) << "the icon covers the whole picture";
}

TEST(ThemeIcon, FillsItsPictureOnAScaledScreenToo) {
    // Application icons are pictures in pixels for the device, whatever this computer's screens are.
    const auto child = test::ChildProcess::start({"/proc/self/exe", "--gtest_filter=ThemeIconChild.*"},
                                                 {"QT_SCALE_FACTOR=2", "VELM_THEME_ICON_CHILD=1"},
                                                 test::ChildProcess::Output::piped);
    ASSERT_TRUE(child);
    std::string report;
    while (const auto line = child->readLine(std::chrono::seconds(60))) {
        report += *line + "\n";
        if (line->starts_with("[  PASSED  ]") || line->starts_with("[  FAILED  ]")) {
            break;
        }
    }
    EXPECT_NE(report.find("[       OK ] ThemeIconChild.DrawsOnAScaledScreen"), std::string::npos) << report;
}

} // namespace
} // namespace velm
