#include "Velm_Host/ui/DesktopApplication.h"

#include "Velm_Host/curtain/Curtain.h"
#include "Velm_Host/model/HostSettings.h"
#include "Velm_Host/ui/OpenPairing.h"
#include "Velm_Host/ui/QtMainQueue.h"
#include "Velm_Host/ui/SettingsLinks.h"
#include "platform/dbus/DbusNotifications.h"
#include "platform/dbus/PowerOffWatcher.h"
#include "platform/dispatch/SignalSource.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/file/InstanceLock.h"
#include "platform/log/Log.h"
#include "platform/store/DefaultsStore.h"
#include "platform/store/StoreFolder.h"
#include "platform/store/XdgDirs.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <variant>
#include <vector>

namespace velm {
namespace {

const Log desktopApplicationLog("host");
constexpr const char* appName = "Velm Host";

void sayOnStandardOutput(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int fail(const std::string& line) {
    std::fprintf(stderr, "velm-host: %s\n", line.c_str());
    return 1;
}

constexpr const char* lockName = "velm-host.lock";
constexpr const char* anotherHost = "another Velm Host is already running for this user";

// One host runs per user. It holds a lock in the runtime folder, and one in its settings folder, the
// same for a host whose runtime folder is another (a `su` shell or a cron job sets no XDG_RUNTIME_DIR)
// and which would write over the first one's settings, keys and history. A settings folder that cannot
// be used holds nothing to keep. The locks, or why the host cannot run.
std::variant<std::vector<InstanceLock>, std::string> lockAsTheOnlyHost() {
    const auto runtime = XdgDirs::runtimeFolder();
    if (!runtime) {
        return std::string("no private runtime folder (set XDG_RUNTIME_DIR)");
    }
    auto runtimeLock = InstanceLock::acquire(*runtime / lockName);
    if (const auto* failure = std::get_if<InstanceLock::Failure>(&runtimeLock)) {
        return *failure == InstanceLock::Failure::heldElsewhere
                   ? anotherHost
                   : "cannot lock " + (*runtime / lockName).string();
    }
    std::vector<InstanceLock> locks;
    locks.push_back(std::move(std::get<InstanceLock>(runtimeLock)));
    const StoreFolder settings(DefaultsStore::standardFolder());
    if (settings.whyUnusable() || !settings.make()) {
        return locks;
    }
    auto settingsLock = InstanceLock::acquire(settings.path() / lockName);
    if (auto* lock = std::get_if<InstanceLock>(&settingsLock)) {
        locks.push_back(std::move(*lock));
    } else if (std::get<InstanceLock::Failure>(settingsLock) == InstanceLock::Failure::heldElsewhere) {
        return anotherHost;
    }
    return locks;
}

// Taken before anything else runs, so that a stop during start-up is orderly too: the signal is handled
// once the event loop runs, by then with the host there. SIGHUP is the terminal it was started from
// closing.
std::shared_ptr<SignalSource> quitOnSignals(const std::shared_ptr<Queue>& mainQueue,
                                            std::function<void()> quit) {
    auto source = SignalSource::make({SIGTERM, SIGINT, SIGHUP}, mainQueue);
    source->setOnSignal([quit = std::move(quit)](int) { quit(); });
    source->start();
    return source;
}

} // namespace

std::shared_ptr<DesktopApplication> DesktopApplication::make(HostMachine machine,
                                                             std::shared_ptr<Queue> mainQueue, Say say) {
    auto application = std::shared_ptr<DesktopApplication>(
        new DesktopApplication(std::move(machine), std::move(mainQueue), std::move(say)));
    application->model_ = HostModel::make(application->modelSetup());
    if (application->machine_.display.hasDisplay) {
        application->app_ = VelmHostApp::make(application->model_, application->appOptions());
        application->app_->setOnFinished(whileAlive(application, &DesktopApplication::finish));
    }
    return application;
}

DesktopApplication::DesktopApplication(HostMachine machine, std::shared_ptr<Queue> mainQueue, Say say)
    : machine_(std::move(machine)), mainQueue_(std::move(mainQueue)), say_(std::move(say)) {}

// The window goes before the model it shows.
DesktopApplication::~DesktopApplication() {
    app_.reset();
    model_.reset();
}

HostModel::Setup DesktopApplication::modelSetup() {
    HostModel::Setup setup;
    setup.queue = mainQueue_;
    setup.defaults = std::make_shared<DefaultsStore>(machine_.settingsFolder);
    if (const auto notice = setup.defaults->notice()) {
        say_(*notice);
    }
    setup.secretsFolder = machine_.secretsFolder;
    setup.downloadFolder = machine_.downloadFolder;
    setup.discovery = machine_.discovery;
    if (machine_.snapshots) {
        setup.snapshots = machine_.snapshots->store();
    }
    setup.desktop = machine_.desktop;
    if (machine_.makeAway) {
        setup.away = machine_.makeAway(HostSettings(setup.defaults).hostID(), setup.defaults);
    }
    if (machine_.curtain) {
        setup.curtain = machine_.curtain;
    }
    setup.notifications = DbusNotifications::make(machine_.sessionBus, mainQueue_, appName);
    setup.powerOff = PowerOffWatcher::make(machine_.systemBus, mainQueue_, appName);
    if (machine_.launchAtLogin) {
        setup.launchAtLogin = *machine_.launchAtLogin;
    }
    setup.readRestartReadiness = [sources = machine_.readiness] { return RestartReadiness::read(sources); };
    setup.hostName = machine_.hostName;
    setup.hostModel = machine_.hostModel;
    return setup;
}

VelmHostApp::Options DesktopApplication::appOptions() {
    VelmHostApp::Options options;
    options.view.queue = mainQueue_;
    options.view.links =
        SettingsLinks::find(machine_.currentDesktop, machine_.programFolders, SettingsLinks::startDetached);
    options.view.cards.snapshots = machine_.snapshots;
    options.view.curtainCovers = [screens = machine_.screens, covers = machine_.display.curtainCanCover()] {
        return covers && screens && !Curtain::screensToCover(screens->monitors()).empty();
    };
    options.tray = machine_.tray;
    return options;
}

void DesktopApplication::setOnFinished(std::function<void()> handler) {
    onFinished_ = std::move(handler);
}

void DesktopApplication::start(const Flags& flags) {
    const auto self = shared_from_this();
    model_->setOnNotice([say = say_](const HostNotice& notice) { say(StateReport::line(notice)); });
    if (app_) {
        app_->setOnChange(whileAlive(self, &DesktopApplication::reportChanges));
        app_->start(flags.pair);
        return;
    }
    model_->setOnChange(whileAlive(self, &DesktopApplication::reportChanges));
    model_->start();
    if (flags.pair) {
        openPairing(*model_->registry());
    }
}

void DesktopApplication::quit() {
    if (app_) {
        app_->quit();
        return;
    }
    if (!quitting_) {
        quitting_ = true;
        model_->quit(whileAlive(weak_from_this(), &DesktopApplication::finish));
    }
}

// Says what changed that a person should know of.
void DesktopApplication::reportChanges() {
    for (const auto& line : report_.update(model_->state(), Date::now())) {
        say_(line);
    }
}

void DesktopApplication::finish() {
    finished_ = true;
    if (onFinished_) {
        onFinished_();
    }
}

int DesktopApplication::run(int& argc, char** argv, const Flags& flags) {
    // What it prints may go into a pipe whose reader has left: the write fails, and the host runs on.
    SignalSource::ignoreBrokenPipes();
    const auto display = HostMachine::displayOfThisComputer();
    // Icons are drawn with Qt even without a screen to show them on.
    if (!display.hasDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const auto locks = lockAsTheOnlyHost();
    if (const auto* failure = std::get_if<std::string>(&locks)) {
        return fail(*failure);
    }

    const std::unique_ptr<QGuiApplication> application = display.hasDisplay
                                                             ? std::make_unique<QApplication>(argc, argv)
                                                             : std::make_unique<QGuiApplication>(argc, argv);
    const auto mainQueue = QtMainQueue::make();
    Queue::setMain(mainQueue);
    std::shared_ptr<DesktopApplication> host;
    const auto stopSignals = quitOnSignals(mainQueue, [&host] { host->quit(); });
    if (display.isGone) {
        sayOnStandardOutput("the display " + std::string(std::getenv("DISPLAY")) +
                            " cannot be reached: running without desktop services");
    } else if (!display.hasDisplay) {
        sayOnStandardOutput("no display: running without desktop services");
    } else if (display.isWayland) {
        sayOnStandardOutput(std::string(DisplaySession::waylandNotice));
        desktopApplicationLog.warning("%s", DisplaySession::waylandNotice.data());
    }
    host = make(HostMachine::ofThisComputer(display, mainQueue), mainQueue, sayOnStandardOutput);
    host->setOnFinished([] { QCoreApplication::exit(0); });
    host->start(flags);
    int status = QGuiApplication::exec();
    // The desktop session may end the event loop itself as it closes.
    if (!host->hasFinished()) {
        QEventLoop loop;
        host->setOnFinished([&loop] { loop.quit(); });
        host->quit();
        loop.exec();
        status = 0;
    }
    host.reset();
    Queue::setMain(nullptr);
    return status;
}

} // namespace velm
