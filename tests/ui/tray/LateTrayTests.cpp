#include "tests/host/model/HostProgram.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateDisplay.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/Screenshots.h"

#include <QImage>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;

// Qt's D-Bus module keeps what it read of a StatusNotifier tray to the end of the process: the
// sanitizers' build of velm-host is told so.
std::string leakOptions() {
    const char* given = std::getenv("LSAN_OPTIONS");
    return std::string("LSAN_OPTIONS=") + (given != nullptr ? std::string(given) + ":" : "") +
           "suppressions=" VELM_TEST_SUPPORT_DIR "/qt-dbus-leaks.supp";
}

// velm-host started as at login, before the panel: on a display and a session bus of the test's own,
// with no tray yet. Its window stands in for the tray; a tray started later takes the host in and the
// window goes; when the tray goes the window comes back.
class LateTray : public testing::Test {
protected:
    void SetUp() override {
        display = test::PrivateDisplay::start();
        bus = test::PrivateSessionBus::start();
        if (!display || !bus || !test::outputOf("command -v trayer xdotool")) {
            GTEST_SKIP() << "needs Xvfb, dbus-daemon, trayer and xdotool";
        }
        host = std::make_unique<test::HostProgram>(
            VELM_HOST_PROGRAM, std::vector<std::string>{},
            std::vector<std::string>{"DISPLAY=" + display->name(), "QT_QPA_PLATFORM=xcb",
                                     "DBUS_SESSION_BUS_ADDRESS=" + bus->address(), leakOptions()});
        ASSERT_TRUE(host->child && host->awaitListening());
    }

    // What xdotool finds on the test's display, asked every so often until `found` says it is there.
    bool seen(const std::string& search, const std::function<bool(const std::string&)>& found) const {
        return Blocking::waitUntil([&] {
            std::this_thread::sleep_for(20ms);
            const auto output =
                test::outputOf("DISPLAY=" + display->name() + " xdotool " + search + " 2>/dev/null");
            return found(output.value_or(""));
        });
    }
    bool windowShown(bool shown) const {
        return seen("search --onlyvisible --name '^Velm Host$'",
                    [shown](const std::string& windows) { return windows.empty() != shown; });
    }
    // A window of the program of a tray icon's size, embedded in the tray.
    bool iconInTray() const {
        return seen(
            "search --onlyvisible --class velm-host getwindowgeometry %@",
            [](const std::string& windows) { return windows.find("Geometry: 22x22") != std::string::npos; });
    }

    // The top of the test's display as it is now, `height` rows of it, kept under screenshots/.
    void shoot(const std::string& name, int height) const {
        Display* server = XOpenDisplay(display->name().c_str());
        ASSERT_NE(server, nullptr);
        const int width = DisplayWidth(server, DefaultScreen(server));
        XImage* shot = XGetImage(server, DefaultRootWindow(server), 0, 0, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), AllPlanes, ZPixmap);
        ASSERT_NE(shot, nullptr);
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixel(x, y, static_cast<QRgb>(XGetPixel(shot, x, y)));
            }
        }
        XDestroyImage(shot);
        XCloseDisplay(server);
        test::writeScreenshot(image, name);
    }

    std::unique_ptr<test::PrivateDisplay> display;
    std::unique_ptr<test::PrivateSessionBus> bus;
    std::unique_ptr<test::HostProgram> host;
};

TEST_F(LateTray, AnXEmbedTrayStartedLaterTakesTheHostIn) {
    ASSERT_TRUE(windowShown(true)) << "no tray yet: the window stands in";
    shoot("ui_tray_late_window_stands_in", 640);
    const auto startTray = [&] {
        return test::ChildProcess::start({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                                          "pixel", "--width", "100", "--height", "24"},
                                         {"DISPLAY=" + display->name()},
                                         test::ChildProcess::Output::discarded);
    };
    auto tray = startTray();
    ASSERT_TRUE(tray);
    EXPECT_TRUE(iconInTray());
    EXPECT_TRUE(windowShown(false)) << "the window it stood in for goes";
    shoot("ui_tray_late_in_the_tray", 40);

    tray.reset();
    EXPECT_TRUE(windowShown(true)) << "the tray went: the window stands in again";
    tray = startTray();
    EXPECT_TRUE(iconInTray()) << "and the host goes back in when the tray comes again";
    EXPECT_EQ(host->child->terminate(10s), 0);
}

TEST_F(LateTray, AStatusNotifierTrayStartedLaterTakesTheHostIn) {
    ASSERT_TRUE(windowShown(true)) << "no tray yet: the window stands in";
    auto watcher = test::ChildProcess::start(
        {"/usr/bin/python3", VELM_TEST_SUPPORT_DIR "/fake_status_notifier_watcher.py", bus->address()}, {},
        test::ChildProcess::Output::piped);
    ASSERT_TRUE(watcher);
    ASSERT_EQ(watcher->readLine(), "ready");
    const auto registered = watcher->readLine(20s);
    ASSERT_TRUE(registered) << "the host's icon never registered with the tray";
    EXPECT_TRUE(registered->starts_with(R"({"method": "RegisterStatusNotifierItem")")) << *registered;
    EXPECT_TRUE(windowShown(false)) << "the window it stood in for goes";

    watcher.reset();
    EXPECT_TRUE(windowShown(true)) << "the tray went: the window stands in again";
    EXPECT_EQ(host->child->terminate(10s), 0);
}

} // namespace
} // namespace velm
