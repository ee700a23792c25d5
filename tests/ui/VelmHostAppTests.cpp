#include "Velm_Host/ui/HostWindow.h"
#include "Velm_Host/ui/MenuBarIcon.h"
#include "Velm_Host/ui/MenuBarView.h"
#include "Velm_Host/ui/PairingCodeRow.h"
#include "Velm_Host/ui/VelmHostApp.h"
#include "tests/support/FakeSystemTray.h"
#include "tests/support/Screenshots.h"
#include "tests/ui/WindowHarness.h"

#include <QAction>
#include <QPainter>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace velm {
namespace {

// The application over a model that it starts itself; without a tray unless the test says.
class AppTest : public testing::Test {
protected:
    std::shared_ptr<VelmHostApp> makeApp(std::shared_ptr<SystemTray> tray = nullptr) {
        VelmHostApp::Options options;
        options.view = window.viewOptions();
        options.tray = std::move(tray);
        auto app = VelmHostApp::make(window.host.model, std::move(options));
        app->setOnFinished([this] {
            ++finishes;
            // What had happened by the time the process could end.
            finishedAfter = *window.host.order;
            goodbyeSent = client && test::byeReason(*client).has_value();
        });
        return app;
    }
    void startAndListen(VelmHostApp& app, bool pair) {
        app.start(pair);
        ASSERT_TRUE(window.advertising());
    }
    void connect(const std::string& id) {
        client = window.connectDevice(id);
        ASSERT_NE(client, nullptr);
    }
    // The host's quit is under way: away access is let stop, and the host finishes.
    bool finishesQuitting(VelmHostApp& app) {
        if (!window.host.pumpUntil([&] { return window.host.away->stopDone != nullptr; })) {
            return false;
        }
        window.host.away->stopDone();
        return window.host.pumpUntil([&] {
            window.host.queue->advance(HostModel::goodbyeGrace);
            return app.hasFinished();
        });
    }

    test::WindowHarness window;
    std::unique_ptr<test::TestClient> client;
    std::optional<std::vector<std::string>> finishedAfter;
    bool goodbyeSent = false;
    int finishes = 0;
};

TEST_F(AppTest, TheMenuMirrorsTheConnectionAndDisconnects) {
    const auto app = makeApp();
    startAndListen(*app, false);
    MenuBarView& menu = *app->menu();
    EXPECT_EQ(menu.status()->text(), "Waiting for a device");
    EXPECT_FALSE(menu.status()->isEnabled());
    EXPECT_FALSE(menu.disconnectAction()->isVisible());
    EXPECT_TRUE(menu.remoteAccess()->isChecked());

    connect("Anna's iPad & Pen");
    EXPECT_EQ(menu.status()->text(), "Anna's iPad && Pen connected") << "never a keyboard shortcut";
    EXPECT_TRUE(menu.disconnectAction()->isVisible());
    test::writeScreenshot(menu.grab().toImage(), "ui_menu_connected");

    menu.disconnectAction()->trigger();
    ASSERT_TRUE(window.host.pumpUntil([&] { return !window.host.model->state().connected; }));
    // The goodbye may still be on its way when the model has let the session go.
    ASSERT_TRUE(window.host.pumpUntil([&] { return test::byeReason(*client).has_value(); }));
    EXPECT_EQ(test::byeReason(*client), ByeReason::remoteAccessDisabled);
    window.settle();
    EXPECT_EQ(menu.status()->text(), "Waiting for a device");
    EXPECT_FALSE(menu.disconnectAction()->isVisible());

    menu.remoteAccess()->trigger();
    window.settle();
    EXPECT_EQ(DefaultsStore(window.host.folder / "config").boolValue("allowRemoteAccess"), false);
    EXPECT_EQ(menu.status()->text(), "Remote access is off");
    EXPECT_FALSE(menu.remoteAccess()->isChecked());
}

TEST_F(AppTest, WithoutATrayTheWindowShowsAtStartAndClosingItQuitsInOrder) {
    const auto app = makeApp();
    startAndListen(*app, false);
    EXPECT_EQ(app->trayIcon(), nullptr);
    ASSERT_TRUE(app->window()->isVisible());
    EXPECT_EQ(app->window()->windowTitle(), "Velm Host");
    EXPECT_EQ(app->window()->objectName(), "main");
    connect("Studio iPad");

    app->window()->close();
    ASSERT_TRUE(window.host.pumpUntil([&] { return test::byeReason(*client).has_value(); }));
    EXPECT_EQ(test::byeReason(*client), ByeReason::hostQuit);
    EXPECT_FALSE(app->hasFinished()) << "the goodbye is given time to leave";
    window.host.queue->advance(HostModel::goodbyeGrace);
    // Away access ends when the fake lets it.
    window.host.away->stopDone();
    ASSERT_TRUE(window.host.pumpUntil([&] {
        window.host.queue->advance(HostModel::goodbyeGrace);
        return app->hasFinished();
    }));
    ASSERT_TRUE(finishedAfter);
    EXPECT_TRUE(goodbyeSent);
    EXPECT_NE(std::find(finishedAfter->begin(), finishedAfter->end(), "curtain: Velm Host quit"),
              finishedAfter->end());

    app->quit();
    app->menu()->quitAction()->trigger();
    window.host.queue->advance(HostModel::quitWaitLimit);
    EXPECT_EQ(finishes, 1) << "a second quit does nothing more";
}

// A host opened at login usually starts before the panel: it moves into the tray once there is one, and
// its window stands in for the tray again while there is none.
TEST_F(AppTest, ATrayThatComesLaterTakesTheHostInAndTheWindowStandsInWhileItIsGone) {
    const auto tray = std::make_shared<test::FakeSystemTray>();
    const auto app = makeApp(tray);
    startAndListen(*app, false);
    EXPECT_EQ(app->trayIcon(), nullptr);
    ASSERT_TRUE(app->window()->isVisible()) << "no tray yet: the window stands in";
    connect("Studio iPad");

    tray->set(true);
    ASSERT_NE(app->trayIcon(), nullptr);
    EXPECT_EQ(app->trayIcon()->contextMenu(), app->menu());
    EXPECT_EQ(
        app->trayIcon()->icon().pixmap(22).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
        MenuBarIcon::image(true, 22))
        << "the icon shows the device connected before the tray came";
    EXPECT_FALSE(app->window()->isVisible()) << "the window it stood in for goes";
    app->menu()->openWindow()->trigger();
    app->window()->close();
    window.settle();
    EXPECT_FALSE(app->hasFinished()) << "with a tray closing the window keeps the host";

    tray->set(false);
    EXPECT_EQ(app->trayIcon(), nullptr);
    ASSERT_TRUE(app->window()->isVisible()) << "the tray went: the window stands in again";
    tray->set(true);
    EXPECT_FALSE(app->window()->isVisible());
    tray->set(false);
    app->window()->close();
    ASSERT_TRUE(finishesQuitting(*app)) << "without a tray closing the window quits";
    // The goodbye may still be on its way over the loopback when the host has finished.
    ASSERT_TRUE(window.host.pumpUntil([&] { return test::byeReason(*client).has_value(); }));
    EXPECT_EQ(test::byeReason(*client), ByeReason::hostQuit);
}

TEST_F(AppTest, AWindowAskedForStaysWhenATrayComes) {
    const auto tray = std::make_shared<test::FakeSystemTray>();
    const auto app = makeApp(tray);
    startAndListen(*app, true);
    ASSERT_TRUE(app->window()->isVisible());
    tray->set(true);
    EXPECT_TRUE(app->window()->isVisible()) << "it shows the pairing code the user asked for";
    EXPECT_NE(app->trayIcon(), nullptr);
}

// The window put away in the taskbar comes back when asked for from the tray: shown again while
// minimized it would stay down there, and the menu item would seem to do nothing.
TEST_F(AppTest, AMinimizedWindowComesBackWhenAskedFor) {
    const auto tray = std::make_shared<test::FakeSystemTray>(true);
    const auto app = makeApp(tray);
    startAndListen(*app, false);
    ASSERT_FALSE(app->window()->isVisible());
    app->menu()->openWindow()->trigger();
    ASSERT_TRUE(app->window()->isVisible());

    app->window()->showMinimized();
    ASSERT_TRUE(app->window()->isMinimized());
    app->menu()->openWindow()->trigger();
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_FALSE(app->window()->isMinimized());
}

TEST_F(AppTest, PairAtStartShowsTheCodeInTheWindow) {
    const auto app = makeApp();
    app->start(true);
    window.settle();
    const auto opened = window.host.model->state().pairingWindow;
    ASSERT_TRUE(opened);
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_TRUE(app->window()->view()->pairingRow()->isCountingDown());
    test::writeScreenshot(app->window()->grab().toImage(), "ui_window_pair_at_start");
}

TEST(MenuBarIconTest, AConnectedDeviceAddsTheArrow) {
    const QImage waiting = MenuBarIcon::image(false, 22);
    const QImage connected = MenuBarIcon::image(true, 22);
    EXPECT_EQ(waiting.size(), QSize(22, 22));
    EXPECT_NE(waiting, connected);
    EXPECT_EQ(waiting.pixelColor(0, 0).alpha(), 0) << "the corners stay clear for the panel";
    QImage both(2 * 64 + 8, 64, QImage::Format_ARGB32_Premultiplied);
    both.fill(QColor(0x44, 0x44, 0x44));
    QPainter painter(&both);
    painter.drawImage(0, 0, MenuBarIcon::image(false, 64));
    painter.drawImage(72, 0, MenuBarIcon::image(true, 64));
    painter.end();
    test::writeScreenshot(both, "ui_menu_bar_icons");
}

} // namespace
} // namespace velm
