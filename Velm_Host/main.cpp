// velm-host: the host. With a display it is a tray application with a main window; without one it runs
// headless. Either way it runs until it is quit (the menu, SIGTERM or SIGINT) and tells on standard
// output what a person needs to know: where it listens, the pairing code, sessions starting and ending.

#include "Velm_Host/HostModel.h"
#include "Velm_Host/away/AwayAccess.h"
#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/model/DesktopCurtain.h"
#include "Velm_Host/model/DisplaySession.h"
#include "Velm_Host/model/HostSettings.h"
#include "Velm_Host/model/StateReport.h"
#include "Velm_Host/model/X11HostDesktop.h"
#include "Velm_Host/ui/AttachedScreen.h"
#include "Velm_Host/ui/DeviceIcons.h"
#include "Velm_Host/ui/OpenPairing.h"
#include "Velm_Host/ui/QtMainQueue.h"
#include "Velm_Host/ui/VelmHostApp.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/dbus/BusConnection.h"
#include "platform/dbus/DbusNotifications.h"
#include "platform/dbus/PowerOffWatcher.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "platform/dispatch/SignalSource.h"
#include "platform/file/InstanceLock.h"
#include "platform/log/Log.h"
#include "platform/net/ComputerName.h"
#include "platform/store/DefaultsStore.h"
#include "platform/store/GenericPasswordStore.h"
#include "platform/store/XdgDirs.h"
#include "platform/x11/X11ScreenList.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using namespace velm;

const Log hostLog("host");

constexpr const char* usage =
    "usage: velm-host [--pair]\n"
    "\n"
    "Runs Velm Host until it is quit (its menu, Ctrl-C or SIGTERM): it advertises this\n"
    "computer on the local network and lets paired tablets and phones use it. With a\n"
    "display it shows an icon in the system tray (or its window, without a tray).\n"
    "\n"
    "  --pair      open a pairing window at start, show and print its code\n"
    "  --version   print the version and exit\n"
    "  -h, --help  print this help and exit\n";

struct Options {
    bool pair = false;
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int fail(const std::string& line) {
    std::fprintf(stderr, "velm-host: %s\n", line.c_str());
    return 1;
}

SessionDesktop::DeviceImage deviceImages(const std::vector<Monitor>& monitors) {
    std::vector<AttachedScreen> screens;
    for (const Monitor& monitor : monitors) {
        screens.push_back(
            {.vendor = monitor.vendor ? std::optional<std::uint32_t>(*monitor.vendor) : std::nullopt,
             .name = monitor.name});
    }
    return {.image = hostIconPNG(), .display = hostDisplayIconPNG(screens)};
}

HostModel::Setup setup(const std::shared_ptr<Queue>& mainQueue, const DisplaySession& display) {
    HostModel::Setup made;
    made.queue = mainQueue;
    made.defaults = std::make_shared<DefaultsStore>(DefaultsStore::standardFolder());
    if (const auto notice = made.defaults->notice()) {
        say(*notice);
    }
    made.secretsFolder = GenericPasswordStore::standardFolder();
    made.downloadFolder = XdgDirs::downloadFolder();
    made.discovery = std::make_shared<AvahiDiscovery>();
    made.snapshots = SnapshotStore::shared();
    // Icons are drawn with Qt, on the GUI thread. Taps are moved onto controls and the keyboard focus
    // followed only where there are windows to read.
    made.desktop = X11HostDesktop::make(mainQueue, mainQueue, deviceImages,
                                        display.hasDisplay ? AtspiAccessibility::shared() : nullptr);
    made.away = AwayAccess::make(HostSettings(made.defaults).hostID(), made.defaults);
    if (display.curtainCanCover()) {
        made.curtain = std::make_shared<DesktopCurtain>(Curtain::forDesktop());
    }
    // Without a desktop there is usually no session bus, and no one to show a notice to.
    made.notifications =
        DbusNotifications::make(BusConnection::session(display.hasDisplay ? BusConnection::Absence::error
                                                                          : BusConnection::Absence::expected),
                                mainQueue, "Velm Host");
    made.powerOff = PowerOffWatcher::make(PowerOffWatcher::systemBus(), mainQueue, "Velm Host");
    made.hostName = ComputerName::pretty();
    made.hostModel = DeviceModel::current();
    return made;
}

// Taken before anything else runs, so that a stop during start-up is orderly too: the signal is handled
// once the event loop runs, by then with the host there.
std::shared_ptr<SignalSource> quitOnSignals(const std::shared_ptr<Queue>& mainQueue,
                                            std::function<void()> quit) {
    auto source = SignalSource::make({SIGTERM, SIGINT}, mainQueue);
    source->setOnSignal([quit = std::move(quit)](int) { quit(); });
    source->start();
    return source;
}

// Says what changed that a person should know of.
std::function<void()> reportChanges(const std::shared_ptr<HostModel>& model) {
    return [model = std::weak_ptr(model), report = std::make_shared<StateReport>()] {
        if (const auto current = model.lock()) {
            for (const auto& line : report->update(current->state(), Date::now())) {
                say(line);
            }
        }
    };
}

// Says what happened that a person should know of.
void reportNotices(HostModel& model) {
    model.setOnNotice([](const HostNotice& notice) { say(StateReport::line(notice)); });
}

int runHeadless(int& argc, char** argv, const Options& options, const DisplaySession& display) {
    QGuiApplication application(argc, argv);
    const auto mainQueue = QtMainQueue::make();
    Queue::setMain(mainQueue);
    std::shared_ptr<HostModel> model;
    const auto stopSignals =
        quitOnSignals(mainQueue, [&model] { model->quit([] { QCoreApplication::exit(0); }); });

    say("no display: running without desktop services");
    model = HostModel::make(setup(mainQueue, display));
    model->setOnChange(reportChanges(model));
    reportNotices(*model);
    model->start();
    if (options.pair) {
        openPairing(*model->registry());
    }
    const int status = QGuiApplication::exec();
    model.reset();
    Queue::setMain(nullptr);
    return status;
}

// The tray application. Whatever ends the event loop, the host quits in order before the process ends.
int runOnDesktop(int& argc, char** argv, const Options& options, const DisplaySession& display) {
    QApplication application(argc, argv);
    const auto mainQueue = QtMainQueue::make();
    Queue::setMain(mainQueue);
    std::shared_ptr<VelmHostApp> app;
    const auto stopSignals = quitOnSignals(mainQueue, [&app] { app->quit(); });

    if (display.isWayland) {
        say(std::string(DisplaySession::waylandNotice));
        hostLog.warning("%s", DisplaySession::waylandNotice.data());
    }
    const auto screens = X11ScreenList::make(mainQueue);
    screens->startWatching();
    VelmHostApp::Options appOptions;
    appOptions.view.curtainCovers = [screens, covers = display.curtainCanCover()] {
        return covers && !Curtain::screensToCover(screens->monitors()).empty();
    };
    app = VelmHostApp::make(HostModel::make(setup(mainQueue, display)), std::move(appOptions));
    app->setOnChange(reportChanges(app->model()));
    reportNotices(*app->model());
    app->setOnFinished([] { QCoreApplication::exit(0); });
    app->start(options.pair);
    int status = QApplication::exec();
    // The desktop session may end the event loop itself as it closes.
    if (!app->hasFinished()) {
        QEventLoop loop;
        app->setOnFinished([&loop] { loop.quit(); });
        app->quit();
        loop.exec();
        status = 0;
    }
    screens->stopWatching();
    app.reset();
    Queue::setMain(nullptr);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == "--version") {
            say("velm-host " VELM_HOST_VERSION);
            return 0;
        }
        if (argument != "--pair") {
            return fail("unknown option " + std::string(argument) + " (see --help)");
        }
        options.pair = true;
    }

    const auto display = DisplaySession::fromEnvironment(std::getenv);
    // Icons are drawn with Qt even without a screen to show them on.
    if (!display.hasDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    const auto runtime = XdgDirs::runtimeFolder();
    if (!runtime) {
        return fail("no private runtime folder (set XDG_RUNTIME_DIR)");
    }
    auto lock = InstanceLock::acquire(*runtime / "velm-host.lock");
    if (const auto* failure = std::get_if<InstanceLock::Failure>(&lock)) {
        return fail(*failure == InstanceLock::Failure::heldElsewhere
                        ? "another Velm Host is already running for this user"
                        : "cannot lock " + (*runtime / "velm-host.lock").string());
    }

    return display.hasDisplay ? runOnDesktop(argc, argv, options, display)
                              : runHeadless(argc, argv, options, display);
}
