#include "Velm_Host/ui/DesktopSystemTray.h"
#include "Velm_Host/ui/HostWindow.h"
#include "Velm_Host/ui/MenuBarIcon.h"
#include "Velm_Host/ui/MenuBarView.h"
#include "Velm_Host/ui/VelmHostApp.h"
#include "tests/support/Blocking.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramEnvironment.h"
#include "tests/support/QtEvents.h"
#include "tests/support/Screenshots.h"
#include "tests/ui/WindowHarness.h"

#include <QAction>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>
#include <sstream>

namespace velm {
namespace {

using namespace std::chrono_literals;

bool hasTray() {
    return std::getenv("VELM_TEST_TRAY") != nullptr;
}

constexpr const char* noTray =
    "no system tray here: scripts/tray-sandbox.sh runs one on the X sandbox's display";

// A part of the display as it is now, kept under screenshots/.
void shootScreen(const QRect& area, const std::string& name) {
    QCoreApplication::processEvents();
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    test::writeScreenshot(shot.toImage(), name);
}

class TrayTest : public testing::Test {
protected:
    void SetUp() override {
        if (!hasTray()) {
            GTEST_SKIP() << noTray;
        }
        VelmHostApp::Options options;
        options.view = window.viewOptions();
        options.tray = DesktopSystemTray::make(BusConnection::session(), window.host.queue);
        app = VelmHostApp::make(window.host.model, std::move(options));
        app->start(false);
        ASSERT_TRUE(window.advertising());
    }
    void TearDown() override {
        if (app && app->menu()) {
            app->menu()->hide();
        }
        app.reset();
    }

    // Where the tray put the icon; empty until it is embedded. A tray may show an icon at its own
    // origin before it arranges its row.
    QRect iconPlace() const {
        QRect place;
        test::processEventsUntil([&] {
            place = app->trayIcon()->geometry();
            return place.isValid() && !place.isEmpty() && place.topLeft() != QPoint(0, 0);
        });
        return place;
    }

    test::WindowHarness window;
    std::shared_ptr<VelmHostApp> app;
};

TEST_F(TrayTest, TheIconSitsInTheTrayAndItsMenuFollowsTheConnection) {
    QSystemTrayIcon* tray = app->trayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(app->window()->isVisible()) << "with a tray the window waits to be asked for";
    const QRect place = iconPlace();
    ASSERT_FALSE(place.isEmpty()) << "the tray never took the icon";
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LT(place.top(), 24) << "trayer stands at the top";
    EXPECT_GT(place.left(), screen.width() - 100) << "at the right";
    shootScreen(QRect(screen.width() - 240, 0, 240, 40), "ui_tray_icon");
    EXPECT_EQ(app->menu()->status()->text(), "Waiting for a device");

    const auto client = window.connectDevice("Studio iPad");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(app->menu()->status()->text(), "Studio iPad connected");
    EXPECT_EQ(tray->icon().pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              MenuBarIcon::image(true, 22));
    EXPECT_TRUE(tray->toolTip().contains("Studio iPad connected"));

    // A click on the icon opens the menu below it.
    emit tray->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(test::processEventsUntil([&] { return app->menu()->isVisible(); }));
    app->menu()->popup(place.bottomLeft());
    test::processEventsUntil([&] { return app->menu()->geometry().top() >= place.bottom(); });
    const QRect menu = app->menu()->geometry();
    shootScreen(QRect(screen.width() - 420, 0, 420, menu.bottom() + 16), "ui_tray_menu");
    app->menu()->hide();
    app->menu()->disconnectAction()->trigger();
    ASSERT_TRUE(window.host.pumpUntil([&] { return !window.host.model->state().connected; }));
    window.settle();
    EXPECT_EQ(tray->icon().pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              MenuBarIcon::image(false, 22));
}

TEST_F(TrayTest, OpenFromTheMenuShowsTheWindowAndClosingItKeepsTheHost) {
    app->menu()->openWindow()->trigger();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->window()->isVisible(); }));
    app->window()->close();
    window.settle();
    EXPECT_FALSE(app->window()->isVisible());
    EXPECT_NE(app->trayIcon(), nullptr);
    EXPECT_FALSE(app->hasFinished());
}

// velm-host as a person starts it on a desktop with a tray: the icon goes into the tray, and SIGTERM
// still ends it in order.
TEST(TrayProgram, StartsInTheTrayAndQuitsOnSigterm) {
    if (!hasTray()) {
        GTEST_SKIP() << noTray;
    }
    test::TemporaryFolder folder;
    const auto environment = test::programEnvironment(
        folder, {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"});
    auto child =
        test::ChildProcess::start({VELM_HOST_PROGRAM}, environment, test::ChildProcess::Output::piped,
                                  test::ChildProcess::Environment::only);
    ASSERT_NE(child, nullptr);
    bool listening = false;
    while (!listening) {
        const auto line = child->readLine(20s);
        ASSERT_TRUE(line) << "velm-host said nothing of listening";
        listening = line->starts_with("listening on port ");
    }
    // Its icon: a window of the program's class, of a tray icon's size, in the tray at the top right.
    const auto trayed = [&] {
        const auto windows = test::outputOf("xdotool search --class velm-host getwindowgeometry %@");
        return windows && windows->find("Geometry: 22x22") != std::string::npos;
    };
    EXPECT_TRUE(Blocking::waitUntil(trayed));
    EXPECT_EQ(child->terminate(10s), 0);
}

} // namespace
} // namespace velm
