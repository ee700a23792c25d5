#include "Velm_Host/x11/X11SessionDesktop.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/X11ScreenList.h"
#include "tests/support/Blocking.h"
#include "tests/support/DesktopEntries.h"
#include "tests/support/X11SelectionPeer.h"
#include "tests/support/X11TestDesktop.h"

#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velm {
namespace {

// Cursor font shapes (X11/cursorfont.h), named here to keep Xlib's macros out of the tests.
constexpr unsigned int crosshairShape = 34;
constexpr unsigned int watchShape = 150;

QImage decoded(const Bytes& data, const char* format) {
    return QImage::fromData(data.data(), static_cast<int>(data.size()), format);
}

void saveScreenshot(const QImage& picture, const std::string& name) {
    std::filesystem::create_directories(VELM_SCREENSHOT_DIR);
    picture.save(QString::fromStdString(std::string(VELM_SCREENSHOT_DIR) + "/" + name + ".png"));
}

StreamRequest requestFor(std::optional<std::uint32_t> displayID) {
    StreamRequest request;
    request.displayID = displayID;
    request.maxPixelWidth = 1280;
    request.maxPixelHeight = 1280;
    request.fps = 60;
    request.bitrate = 8'000'000;
    return request;
}

std::shared_ptr<X11SessionDesktop> makeDesktop(const std::shared_ptr<ManualQueue>& queue,
                                               std::shared_ptr<FileOffers> offers) {
    return X11SessionDesktop::make({queue, queue, X11Clipboard::make(queue), std::move(offers), [] {
                                        return SessionDesktop::DeviceImage{Bytes{1, 2, 3}, std::nullopt};
                                    }});
}

// The processes this one started that still run. GIO starts an application through a helper that then
// runs its program in the same process, so they are counted by parent, not by name.
std::size_t childrenRunning() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        long pid = 0;
        std::string name;
        char state = 0;
        long parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == getpid() && state != 'Z') {
            ++count;
        }
    }
    return count;
}

// The desktop a session gets, on the sandbox's display, with everything reported on one queue that
// the test runs; icons are drawn there too, as the test's thread is Qt's.
class SessionDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        x11 = test::X11TestDesktop::open(reason);
        if (!x11) {
            GTEST_SKIP() << reason;
        }
        test::DesktopEntries::guiApplication();
        desktop = makeDesktop(queue, offers);
        desktop->setOnDisplaysChanged(
            [this](std::vector<DisplayInfo> list) { displayChanges.push_back(list); });
        desktop->setOnCursorShape([this](CursorShape shape) { cursors.push_back(std::move(shape)); });
        desktop->setOnClipboard([this](ClipboardMessage message) { clipboardMessages.push_back(message); });
        desktop->setOnFilesAvailable([this](std::vector<FileItem> files) { fileOffers.push_back(files); });
        desktop->setOnAppModeEnded([this](std::string ended) { appModeEnds.push_back(ended); });
        desktop->start(queue);
    }

    void TearDown() override {
        if (desktop) {
            desktop->stop();
        }
    }

    // Runs what is due; virtual time stands still, so that no read of the clipboard times out.
    bool pumpUntil(const std::function<bool()>& condition) {
        return Blocking::waitUntil([&] {
            queue->runUntilIdle();
            return condition();
        });
    }

    // Lets virtual time pass for the screen list's rechecks, which catch virtual monitors.
    bool recheckUntil(const std::function<bool()>& condition) {
        return Blocking::waitUntil([&] {
            queue->advance(X11ScreenList::defaultRecheckInterval);
            return condition();
        });
    }

    template <typename Value>
    std::optional<Value> answer(const std::function<void(std::function<void(Value)>)>& ask) {
        std::optional<Value> result;
        ask([&](Value value) { result = std::move(value); });
        pumpUntil([&] { return result.has_value(); });
        return result;
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>();
    std::shared_ptr<FileOffers> offers = std::make_shared<FileOffers>();
    std::unique_ptr<test::X11TestDesktop> x11;
    std::shared_ptr<X11SessionDesktop> desktop;
    std::vector<std::vector<DisplayInfo>> displayChanges;
    std::vector<CursorShape> cursors;
    std::vector<ClipboardMessage> clipboardMessages;
    std::vector<std::vector<FileItem>> fileOffers;
    std::vector<std::string> appModeEnds;
};

class SessionScreensTest : public SessionDesktopTest {
protected:
    // Virtual monitors outlive their client.
    void TearDown() override {
        if (x11) {
            test::X11TestDesktop::run("xrandr --delmonitor velm-session-side");
        }
        SessionDesktopTest::TearDown();
    }
};

TEST_F(SessionScreensTest, ListsTheScreensReportsChangesAndDescribesTheChosenOne) {
    const auto displays = desktop->displays();
    ASSERT_EQ(displays.size(), 1u);
    const DisplayInfo screen = displays[0];
    EXPECT_EQ(screen, (DisplayInfo{screen.id, "screen", 1920, 1080, 1920, 1080, true}));

    ASSERT_TRUE(
        test::X11TestDesktop::run("xrandr --setmonitor velm-session-side 640/100x480/100+100+50 none"));
    ASSERT_TRUE(recheckUntil([&] { return !displayChanges.empty(); }));
    ASSERT_EQ(displayChanges.back().size(), 2u);
    const auto side =
        std::find_if(displayChanges.back().begin(), displayChanges.back().end(),
                     [](const DisplayInfo& display) { return display.name == "velm-session-side"; });
    ASSERT_NE(side, displayChanges.back().end());
    EXPECT_FALSE(side->isMain);

    const auto described = desktop->describe(requestFor(side->id));
    ASSERT_TRUE(described);
    EXPECT_EQ(std::tuple(described->displayID, described->pixelWidth, described->pointWidth),
              std::tuple(side->id, 640, 640.0));
    EXPECT_EQ(desktop->describedArea(), (SessionDesktop::Area{100, 50, 640, 480}));

    const auto main = desktop->describe(requestFor(12345));
    ASSERT_TRUE(main);
    EXPECT_EQ(std::tuple(main->displayID, main->pixelWidth, main->pixelHeight),
              std::tuple(screen.id, 1280, 720))
        << "an unknown screen gives the main one";
    EXPECT_FALSE(main->appName);

    ASSERT_TRUE(test::X11TestDesktop::run("xrandr --delmonitor velm-session-side"));
    ASSERT_TRUE(recheckUntil([&] { return displayChanges.back().size() == 1; }));
    EXPECT_EQ(displayChanges.back(), std::vector{screen});
}

TEST_F(SessionDesktopTest, SendsTheCursorWhenReportsGoOnAndWhenItChanges) {
    x11->setRootCursor(crosshairShape);
    desktop->setCursorReports(true);
    ASSERT_TRUE(pumpUntil([&] { return !cursors.empty(); })) << "the picture shown when reports go on";
    const Bytes before = cursors.back().png;
    x11->setRootCursor(watchShape);
    // Xvfb shows its blank 1×1 cursor for a moment while the cursor changes.
    ASSERT_TRUE(pumpUntil([&] { return cursors.back().png != before && cursors.back().width > 1; }));
    const CursorShape& watch = cursors.back();
    const QImage picture = decoded(watch.png, "PNG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ((std::pair<double, double>(picture.width(), picture.height())),
              std::pair(watch.width, watch.height));
    EXPECT_TRUE(watch.hotSpotX < watch.width && watch.hotSpotY < watch.height);
    saveScreenshot(picture, "session-cursor");
}

TEST_F(SessionDesktopTest, APointerTooLargeToKeepIsSentScaledDownAtItsFullSize) {
    Image big{300, 900, Image::Format::rgba, {}};
    for (int pixel = 0; pixel < 300 * 900; ++pixel) {
        big.pixels.insert(big.pixels.end(), {40, 160, 80, 255});
    }
    x11->setRootCursor(big, 299, 30);
    desktop->setCursorReports(true);
    ASSERT_TRUE(pumpUntil([&] { return !cursors.empty() && cursors.back().height == 900; }));
    const CursorShape& shape = cursors.back();
    EXPECT_EQ((std::tuple<double, double, double>(shape.width, shape.hotSpotX, shape.hotSpotY)),
              std::tuple(300, 299, 30));
    const QImage picture = decoded(shape.png, "PNG");
    EXPECT_EQ(std::pair(picture.width(), picture.height()), std::pair(85, 256));
    EXPECT_EQ(picture.pixelColor(40, 128), QColor(40, 160, 80));
}

TEST_F(SessionDesktopTest, GlimpseOfTheMainScreenWithinTheBudget) {
    x11->fill({0, 0, 1920, 1080}, 0x202020);
    x11->fill({480, 270, 960, 540}, 0x20A040);
    const auto jpeg = answer<std::optional<Bytes>>([&](auto done) { desktop->glimpse(150'000, done); });
    ASSERT_TRUE(jpeg && *jpeg);
    EXPECT_LE((*jpeg)->size(), 150'000u);
    const QImage picture = decoded(**jpeg, "JPEG");
    ASSERT_FALSE(picture.isNull());
    saveScreenshot(picture, "session-glimpse");
    EXPECT_EQ(picture.width() * 1080, picture.height() * 1920);
    const QColor middle = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    EXPECT_NEAR(middle.green(), 0xA0, 40);
    EXPECT_NEAR(picture.pixelColor(4, 4).green(), 0x20, 40);
}

const std::string emojiText = "Grüße 👋🏽 aus der Sitzung";

TEST_F(SessionDesktopTest, ClipboardTextAndPicturesBothWaysAndCopiedFilesOffered) {
    const auto peer = test::X11SelectionPeer::open();
    ASSERT_TRUE(peer);
    desktop->receiveClipboard(ClipboardMessage::text(emojiText));
    EXPECT_TRUE(Blocking::waitUntil([&] { return peer->read("UTF8_STRING") == toBytes(emojiText); }));
    desktop->receiveClipboard(ClipboardMessage::image(Bytes{0xFF, 0xD8, 0xFF, 0xE0}));
    queue->runUntilIdle();
    EXPECT_EQ(peer->read("UTF8_STRING"), toBytes(emojiText)) << "only PNG pictures are offered";

    desktop->receiveClipboard(ClipboardMessage::subscribe(true));
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const Bytes picture(png.begin(), png.end());
    peer->own({{"image/png", picture}});
    ASSERT_TRUE(pumpUntil([&] { return !clipboardMessages.empty(); }));
    EXPECT_EQ(clipboardMessages.back(), ClipboardMessage::image(picture));

    test::TemporaryFolder folder;
    test::TemporaryFolder::writeFile(folder / "report.txt", "twelve bytes");
    std::filesystem::create_directory(folder / "folder");
    peer->own({{"text/uri-list", toBytes("file://" + (folder / "folder").string() + "\r\nfile://" +
                                         (folder / "report.txt").string() + "\r\n")}});
    ASSERT_TRUE(pumpUntil([&] { return !fileOffers.empty(); }));
    ASSERT_EQ(fileOffers.back().size(), 1u);
    const FileItem report = fileOffers.back()[0];
    EXPECT_EQ(std::pair(report.name, report.size), std::pair(std::string("report.txt"), std::uint64_t{12}));
    EXPECT_EQ(desktop->offeredFile(report.id), folder / "report.txt");
    EXPECT_FALSE(desktop->offeredFile(report.id + 1));

    peer->own(
        {{"x-special/gnome-copied-files", toBytes("copy\nfile://" + (folder / "report.txt").string())}});
    ASSERT_TRUE(pumpUntil([&] { return fileOffers.size() == 2; }));
    EXPECT_NE(fileOffers.back()[0].id, report.id);
    EXPECT_FALSE(desktop->offeredFile(report.id)) << "only the latest list is served";
}

TEST_F(SessionDesktopTest, ListsInstalledAndRunningApplicationsWithIcons) {
    const auto listed = answer<std::vector<AppInfo>>([&](auto done) { desktop->installedApps(done); });
    ASSERT_TRUE(listed);
    const auto& installed = *listed;
    ASSERT_EQ(installed.size(), 2u);
    EXPECT_EQ(std::tuple(installed[0].bundleID, installed[0].name, installed[1].bundleID),
              std::tuple("velm-editor.desktop", "Velm Bearbeiter", "velm-tests.desktop"));
    for (const AppInfo& app : installed) {
        ASSERT_TRUE(app.iconPNG) << app.bundleID;
        EXPECT_EQ(decoded(*app.iconPNG, "PNG").size(), QSize(128, 128));
    }

    x11->setClientList({x11->makeWindow("Stranger", 0), x11->makeWindow("VelmEditor", 0)});
    const auto running = answer<std::vector<AppInfo>>([&](auto done) { desktop->runningApps(done); });
    x11->setClientList({});
    ASSERT_TRUE(running);
    ASSERT_EQ(running->size(), 1u);
    EXPECT_EQ(running->at(0).bundleID, "velm-editor.desktop");
    EXPECT_EQ(running->at(0).iconPNG, installed[0].iconPNG);
}

TEST_F(SessionDesktopTest, AppModeLaunchesTheApplicationAndSaysWhenItQuits) {
    const auto started = test::DesktopEntries::shared().started();
    std::filesystem::remove(started);
    StreamRequest request = requestFor(std::nullopt);
    request.appBundleID = "velm-nowhere.desktop";
    request.launchApp = true;
    EXPECT_FALSE(desktop->describe(request)->appName) << "no such application: the screen is shown";
    request.appBundleID = "../applications/velm-editor.desktop";
    EXPECT_FALSE(desktop->describe(request)->appName);

    request.appBundleID = "velm-editor.desktop";
    const auto described = desktop->describe(request);
    ASSERT_TRUE(described);
    EXPECT_EQ(std::pair(described->appName, described->appBundleID),
              std::pair(std::optional<std::string>("Velm Bearbeiter"),
                        std::optional<std::string>("velm-editor.desktop")));
    ASSERT_TRUE(pumpUntil([&] { return !appModeEnds.empty(); }));
    EXPECT_EQ(appModeEnds, std::vector<std::string>{"Velm Bearbeiter quit."});
    EXPECT_TRUE(std::filesystem::exists(started));
}

// A client asks for its stream again as its screen turns or its window is resized: the application it
// had started, still running, is not started once more each time.
TEST_F(SessionDesktopTest, AppModeStartsTheApplicationOnlyOnceWhileItRuns) {
    const auto& entries = test::DesktopEntries::shared();
    std::filesystem::remove(entries.release());
    StreamRequest request = requestFor(std::nullopt);
    request.appBundleID = "velm-waiter.desktop";
    request.launchApp = true;
    for (int asked = 0; asked < 3; ++asked) {
        ASSERT_EQ(desktop->describe(request)->appName, "Velm Waiter");
    }
    EXPECT_EQ(childrenRunning(), 1u);

    test::TemporaryFolder::writeFile(entries.release(), "");
    ASSERT_TRUE(pumpUntil([&] { return !appModeEnds.empty(); }));
    EXPECT_EQ(appModeEnds, std::vector<std::string>{"Velm Waiter quit."});
    EXPECT_EQ(desktop->describe(request)->appName, "Velm Waiter");
    EXPECT_TRUE(pumpUntil([&] { return appModeEnds.size() == 2; })) << "started again once it had quit";
}

TEST(SessionDesktopWithoutDisplay, AnswersEmptyButStillGivesTheComputersPictures) {
    const char* display = getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    const auto queue = std::make_shared<ManualQueue>();
    const auto desktop = makeDesktop(queue, std::make_shared<FileOffers>());
    if (!saved.empty()) {
        setenv("DISPLAY", saved.c_str(), 1);
    }
    desktop->start(queue);
    EXPECT_TRUE(desktop->displays().empty());
    EXPECT_FALSE(desktop->describe(requestFor(std::nullopt)));
    EXPECT_FALSE(desktop->describedArea());
    std::optional<std::optional<Bytes>> glimpse;
    desktop->glimpse(100'000, [&](std::optional<Bytes> jpeg) { glimpse = jpeg; });
    std::optional<std::vector<AppInfo>> apps;
    desktop->installedApps([&](std::vector<AppInfo> list) { apps = list; });
    std::optional<SessionDesktop::DeviceImage> pictures;
    desktop->deviceImage([&](SessionDesktop::DeviceImage image) { pictures = image; });
    ASSERT_TRUE(Blocking::waitUntil([&] {
        queue->runUntilIdle();
        return glimpse && apps && pictures;
    }));
    EXPECT_FALSE(*glimpse);
    EXPECT_TRUE(apps->empty());
    EXPECT_EQ(pictures->image, (Bytes{1, 2, 3}));
    desktop->stop();
}

} // namespace
} // namespace velm
