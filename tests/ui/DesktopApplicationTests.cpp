#include "Velm_Host/ui/DesktopApplication.h"
#include "Velm_Host/ui/DeviceCard.h"
#include "Velm_Host/ui/DeviceCards.h"
#include "Velm_Host/ui/HostView.h"
#include "Velm_Host/ui/HostWindow.h"
#include "Velm_Host/ui/NeedsAttentionSection.h"
#include "Velm_Host/ui/PermissionRow.h"
#include "Velm_Host/ui/PlainLabel.h"
#include "tests/host/model/ModelHarness.h"
#include "tests/support/ChildWidgets.h"
#include "tests/support/FakeScreenList.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/Pump.h"
#include "tests/support/RunnableProgram.h"
#include "tests/support/Screenshots.h"
#include "tests/support/SystemCallFaults.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

namespace velm {
namespace {

// The desktop's sessions as the fakes have them, over the machine's list of screens, which it watches
// for the model as the real desktop does.
class DesktopOverScreens final : public HostDesktop {
public:
    explicit DesktopOverScreens(std::shared_ptr<ScreenList> screens) : screens_(std::move(screens)) {}

    std::shared_ptr<SessionDesktop> sessionDesktop() override { return fake_.sessionDesktop(); }
    std::shared_ptr<InputSink> sessionInput() override { return fake_.sessionInput(); }
    std::shared_ptr<TextFocusWatch> sessionTextFocus() override { return nullptr; }
    bool hasDisplay() override { return false; }
    DesktopAccess access() override { return fake_.access(); }
    void setOnScreensChanged(std::function<void()> handler) override {
        screens_->setOnChange([handler = std::move(handler)](const std::vector<Monitor>&) { handler(); });
        screens_->startWatching();
    }

private:
    const std::shared_ptr<ScreenList> screens_;
    test::FakeHostDesktop fake_;
};

// The application as velm-host assembles it, on a machine of stand-ins: screens the test changes, a
// session bus of its own without a notification server, a folder standing in for the PATH with a
// settings program that notes how it was started, and the display managers' files under a folder of
// the test's.
class AssembledApplication : public testing::Test {
protected:
    void SetUp() override {
        bus = test::PrivateSessionBus::start();
        if (!bus) {
            GTEST_SKIP() << "dbus-daemon cannot be started here";
        }
        const auto programs = folder / "bin";
        std::filesystem::create_directories(programs);
        const auto settings = programs / "gnome-control-center";
        test::TemporaryFolder::writeFile(settings, "#!/bin/sh\necho \"$@\" >> '" + opened.string() +
                                                       ".part'\nmv '" + opened.string() + ".part' '" +
                                                       opened.string() + "'\n");
        std::filesystem::permissions(settings, std::filesystem::perms::owner_all);
    }

    void TearDown() override {
        application.reset();
        screens.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pictures->runUntilIdle();
        test::pumpUntilReleased(queue);
    }

    HostMachine machine() {
        HostMachine made;
        made.display = {.hasDisplay = true, .isWayland = false};
        made.screens = screens;
        made.sessionBus = BusConnection::open(bus->address());
        made.discovery = discovery;
        made.desktop = std::make_shared<DesktopOverScreens>(screens);
        made.programFolders = {QString::fromStdString((folder / "bin").string())};
        made.currentDesktop = "ubuntu:GNOME";
        made.settingsFolder = folder / "config";
        made.secretsFolder = folder / "keychain";
        made.downloadFolder = folder / "downloads";
        made.snapshots = SnapshotWatch::make(SnapshotStore::make(folder / "snapshots", pictures, queue));
        made.launchAtLogin = LaunchAtLogin(folder / "autostart", test::runnableProgram());
        made.readiness = {.autostartFolders = {made.launchAtLogin->entryFile().parent_path()},
                          .systemRoot = folder / "root",
                          .userName = "anna"};
        made.hostName = [] { return std::string("Test host"); };
        made.makeAway = makeAway;
        return made;
    }

    void start() {
        application = DesktopApplication::make(machine(), queue,
                                               [this](const std::string& line) { said.push_back(line); });
        application->start({});
        ASSERT_TRUE(test::pumpUntil(*queue, [&] {
            return model().state().listenerState.kind() == HostListener::State::Kind::advertising;
        }));
        settle();
    }
    void settle() {
        for (int round = 0; round < 3; ++round) {
            queue->runUntilIdle();
            pictures->runUntilIdle();
            QCoreApplication::processEvents();
        }
    }

    HostModel& model() const { return *application->model(); }
    HostView& view() const { return *application->app()->window()->view(); }
    // The needs-attention row of that title, if shown.
    PermissionRow* row(const std::string& title) const {
        for (auto* row : test::childWidgets<PermissionRow>(*view().needsAttention())) {
            if (test::childWidget<PlainLabel>(*row)->text().toStdString() == title) {
                return row;
            }
        }
        return nullptr;
    }
    // What the settings program was started with, once it ran.
    std::optional<std::string> settingsOpened() {
        if (!Blocking::waitUntil([&] { return std::filesystem::exists(opened); })) {
            return std::nullopt;
        }
        auto arguments = test::TemporaryFolder::readFile(opened);
        std::filesystem::remove(opened);
        return arguments;
    }

    test::TemporaryFolder folder;
    std::filesystem::path opened = folder / "settings-opened";
    std::unique_ptr<test::PrivateSessionBus> bus;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
    std::shared_ptr<ManualQueue> pictures = std::make_shared<ManualQueue>("pictures");
    std::shared_ptr<test::FakeScreenList> screens = std::make_shared<test::FakeScreenList>(queue);
    std::shared_ptr<test::FakeDiscovery> discovery = std::make_shared<test::FakeDiscovery>();
    HostMachine::MakeAway makeAway;
    std::vector<std::string> said;
    std::shared_ptr<DesktopApplication> application;
};

TEST_F(AssembledApplication, SettingsButtonsRunTheDesktopsSettingsProgramFoundOnThePath) {
    // SDDM logs another user in: this one's restart stops at the login window.
    std::filesystem::create_directories(folder / "root/etc");
    test::TemporaryFolder::writeFile(folder / "root/etc/sddm.conf", "[Autologin]\nUser=bob\n");
    start();
    model().setAllowAwayAccess(true);
    // The session bus has no notification server, so notices of away visits cannot be shown.
    ASSERT_TRUE(test::pumpUntil(*queue, [&] { return !model().awayVisits()->noticesAllowed(); }));
    settle();

    PermissionRow* notifications = row("Notifications");
    ASSERT_NE(notifications, nullptr);
    ASSERT_NE(notifications->button(), nullptr);
    EXPECT_EQ(notifications->button()->text(), "Settings…");
    notifications->button()->click();
    EXPECT_EQ(settingsOpened(), "notifications\n");

    PermissionRow* automaticLogin = row("Log in automatically");
    ASSERT_NE(automaticLogin, nullptr);
    ASSERT_NE(automaticLogin->button(), nullptr);
    automaticLogin->button()->click();
    EXPECT_EQ(settingsOpened(), "users\n");
    EXPECT_EQ(row("Start after a power cut"), nullptr) << "no setting a program can read says it";
    test::writeScreenshot(application->app()->window()->grab().toImage(), "ui_assembled_settings_rows");

    // The display manager's files are read again with the permissions: without any there is nothing
    // anyone could fix from here.
    std::filesystem::remove(folder / "root/etc/sddm.conf");
    queue->advance(HostModel::permissionInterval * HostModel::grantedTickDivisor);
    settle();
    EXPECT_EQ(row("Log in automatically"), nullptr);
    EXPECT_NE(row("Notifications"), nullptr);
}

// A first run on a full disk cannot save the host's new identifier: away access and the advertisement
// still name the same host for the run, or devices would find one host and knock for another.
TEST_F(AssembledApplication, OneHostIdentifierServesTheRunWhenItCannotBeSaved) {
    std::vector<std::string> awayIDs;
    makeAway = [&awayIDs](const std::string& hostID, std::shared_ptr<DefaultsStore>) {
        awayIDs.push_back(hostID);
        return std::make_shared<test::RecordingAwayAccess>(std::make_shared<std::vector<std::string>>());
    };
    const auto full = test::SystemCallFaults::failOpening("defaults.json.tmp", ENOSPC);
    start();
    ASSERT_EQ(awayIDs.size(), 1u);
    ASSERT_EQ(discovery->published().size(), 1u);
    EXPECT_EQ(discovery->published()[0].txt.value(HostListener::hostIDKey), awayIDs[0]);
    EXPECT_FALSE(std::filesystem::exists(folder / "config" / "defaults.json"));
}

// A settings program installed while the host runs is found when the window opens, with no change
// of the model's state to show it.
TEST_F(AssembledApplication, ASettingsProgramInstalledAfterStartIsFoundWhenTheWindowOpens) {
    std::filesystem::create_directories(folder / "root/etc");
    test::TemporaryFolder::writeFile(folder / "root/etc/sddm.conf", "[Autologin]\nUser=bob\n");
    const auto program = folder / "bin/gnome-control-center";
    const auto aside = folder / "gnome-control-center";
    std::filesystem::rename(program, aside);
    start();
    ASSERT_NE(row("Log in automatically"), nullptr);
    EXPECT_EQ(row("Log in automatically")->button(), nullptr) << "no settings program yet";

    std::filesystem::rename(aside, program);
    application->app()->openMainWindow();
    settle();
    PermissionRow* automaticLogin = row("Log in automatically");
    ASSERT_NE(automaticLogin, nullptr);
    ASSERT_NE(automaticLogin->button(), nullptr);
    automaticLogin->button()->click();
    EXPECT_EQ(settingsOpened(), "users\n");
    test::writeScreenshot(application->app()->window()->grab().toImage(), "ui_assembled_settings_installed");

    // Gone again: the button goes at the window's next look rather than offering what cannot start.
    std::filesystem::remove(program);
    application->app()->openMainWindow();
    settle();
    ASSERT_NE(row("Log in automatically"), nullptr);
    EXPECT_EQ(row("Log in automatically")->button(), nullptr);
}

// The cards learn of a monitor change from the same list the model heard it from, so " · curtain"
// and the "Privacy Curtain" choice follow the very change the model publishes.
TEST_F(AssembledApplication, TheCardsReadTheScreensTheModelWatches) {
    start();
    test::pairThrough(*model().registry(), "ipad");
    model().setDevicePolicy("ipad", std::nullopt, true);
    settle();
    DeviceCards& cards = *view().cards();
    ASSERT_NE(cards.card("ipad"), nullptr);
    const auto policyLine = [&] {
        return cards.card("ipad")->findChild<QLabel*>("policy-line")->text().toStdString();
    };
    EXPECT_EQ(policyLine(), "Never disconnected for being idle") << "no screen to cover yet";

    int published = 0;
    application->app()->setOnChange([&] { ++published; });
    Monitor monitor;
    monitor.id = 1;
    monitor.name = "DELL U2720Q";
    monitor.frame = {0, 0, 3840, 2160};
    screens->change({monitor});
    queue->runUntilIdle();
    ASSERT_GT(published, 0) << "the model published the change";
    EXPECT_EQ(policyLine(), "Never disconnected for being idle · curtain");

    published = 0;
    screens->change({});
    queue->runUntilIdle();
    ASSERT_GT(published, 0);
    EXPECT_EQ(policyLine(), "Never disconnected for being idle");
}

} // namespace
} // namespace velm
