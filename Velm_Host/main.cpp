// velm-host: the host without a window. It runs until SIGTERM or SIGINT and tells on standard output
// what a person needs to know: where it listens, the pairing code, sessions starting and ending.

#include "Velm_Host/HostModel.h"
#include "Velm_Host/away/AwayAccess.h"
#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/model/DesktopCurtain.h"
#include "Velm_Host/model/HostSettings.h"
#include "Velm_Host/model/StateReport.h"
#include "Velm_Host/model/X11HostDesktop.h"
#include "Velm_Host/ui/AttachedScreen.h"
#include "Velm_Host/ui/DeviceIcons.h"
#include "Velm_Host/ui/QtMainQueue.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/dbus/BusConnection.h"
#include "platform/dbus/DbusNotifications.h"
#include "platform/dbus/PowerOffWatcher.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "platform/dispatch/SignalSource.h"
#include "platform/file/InstanceLock.h"
#include "platform/net/ComputerName.h"
#include "platform/store/DefaultsStore.h"
#include "platform/store/GenericPasswordStore.h"
#include "platform/store/XdgDirs.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using namespace velm;

constexpr const char* usage =
    "usage: velm-host [--pair]\n"
    "\n"
    "Runs Velm Host until it is stopped (Ctrl-C or SIGTERM): it advertises this computer\n"
    "on the local network and lets paired tablets and phones use it.\n"
    "\n"
    "  --pair     open a pairing window at start and print its code\n"
    "  --version  print the version and exit\n"
    "  --help     print this help and exit\n";

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

HostModel::Setup setup(const std::shared_ptr<Queue>& mainQueue, bool hasDisplay) {
    HostModel::Setup made;
    made.queue = mainQueue;
    made.defaults = std::make_shared<DefaultsStore>(DefaultsStore::standardFolder());
    made.secretsFolder = GenericPasswordStore::standardFolder();
    made.downloadFolder = XdgDirs::downloadFolder();
    made.discovery = std::make_shared<AvahiDiscovery>();
    made.snapshots = SnapshotStore::shared();
    // Icons are drawn with Qt, on the GUI thread. Taps are moved onto controls and the keyboard focus
    // followed only where there are windows to read.
    made.desktop = X11HostDesktop::make(mainQueue, mainQueue, deviceImages,
                                        hasDisplay ? AtspiAccessibility::shared() : nullptr);
    made.away = AwayAccess::make(HostSettings(made.defaults).hostID(), made.defaults);
    if (hasDisplay) {
        made.curtain = std::make_shared<DesktopCurtain>(Curtain::forDesktop());
    }
    made.notifications = DbusNotifications::make(BusConnection::session(), mainQueue, "Velm Host");
    made.powerOff = PowerOffWatcher::make(PowerOffWatcher::systemBus(), mainQueue, "Velm Host");
    made.hostName = ComputerName::pretty();
    made.hostModel = DeviceModel::current();
    return made;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
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

    const bool hasDisplay = std::getenv("DISPLAY") != nullptr && std::getenv("DISPLAY")[0] != '\0';
    // Icons are drawn with Qt even without a screen to show them on.
    if (!hasDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
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

    QGuiApplication application(argc, argv);
    const auto mainQueue = QtMainQueue::make();
    Queue::setMain(mainQueue);

    // Taken before anything else runs, so that a stop during start-up is orderly too: the signal is
    // handled once the event loop runs, by then with the model there.
    std::shared_ptr<HostModel> model;
    const auto stopSignals = SignalSource::make({SIGTERM, SIGINT}, mainQueue);
    stopSignals->setOnSignal([&model](int) { model->quit([] { QCoreApplication::exit(0); }); });
    stopSignals->start();

    if (!hasDisplay) {
        say("no display: running without desktop services");
    }
    model = HostModel::make(setup(mainQueue, hasDisplay));
    auto report = std::make_shared<StateReport>();
    model->setOnChange([model = std::weak_ptr(model), report] {
        if (const auto current = model.lock()) {
            for (const auto& line : report->update(current->state(), Date::now())) {
                say(line);
            }
        }
    });
    model->start();
    if (options.pair) {
        model->registry()->openNewPairing(false);
    }
    const int status = QGuiApplication::exec();
    model.reset();
    Queue::setMain(nullptr);
    return status;
}
