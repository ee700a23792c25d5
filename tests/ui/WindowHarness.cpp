#include "tests/ui/WindowHarness.h"

#include "tests/support/QueueClock.h"
#include "tests/support/RunnableProgram.h"

#include <QCoreApplication>
#include <QEvent>

namespace velm::test {

std::optional<ByeReason> byeReason(const TestClient& client) {
    for (const auto& message : client.received()) {
        if (const auto* bye = message.get<ControlMessage::Bye>()) {
            return bye->reason;
        }
    }
    return std::nullopt;
}

WindowHarness::WindowHarness() : clock(queueClock(host.queue)) {
    const LaunchAtLogin launchAtLogin(host.folder / "autostart", test::runnableProgram());
    autostartEntry = launchAtLogin.entryFile();
    HostModel::Setup setup;
    setup.queue = host.queue;
    setup.defaults = std::make_shared<DefaultsStore>(host.folder / "config");
    setup.secretsFolder = host.folder / "keychain";
    setup.downloadFolder = host.folder.path();
    setup.discovery = host.discovery;
    setup.desktop = host.desktop;
    setup.away = host.away;
    setup.curtain = std::make_shared<RecordingHostCurtain>(host.order);
    setup.launchAtLogin = launchAtLogin;
    setup.readRestartReadiness =
        [sources = RestartReadiness::Sources{.autostartFolders = {autostartEntry.parent_path()},
                                             .systemRoot = host.folder / "root",
                                             .userName = "anna"}] { return RestartReadiness::read(sources); };
    setup.interfaces = [] {
        const auto up = [](const char* name, const char* address) {
            return InterfaceAddress{name, true, *IpAddress::parse(address), std::nullopt};
        };
        return std::vector{up("eth0", "192.168.1.20"), up("tailscale0", "100.101.7.3")};
    };
    setup.sessionQueue = [queue = host.queue] { return queue; };
    setup.now = clock;
    setup.hostName = [] { return std::string("Test host"); };
    host.model = HostModel::make(std::move(setup));
}

// Widgets deleted later still hold the model's stores.
WindowHarness::~WindowHarness() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    pictures->runUntilIdle();
}

HostView::Options WindowHarness::viewOptions() {
    HostView::Options options;
    options.queue = host.queue;
    options.clock = clock;
    options.historyDates = std::make_shared<HistoryDates>(
        HistoryDates::Options{.locale = "en_US", .timeZone = "UTC", .now = clock});
    options.cards.snapshots =
        SnapshotWatch::make(SnapshotStore::make(host.folder / "snapshots", pictures, host.queue));
    options.cards.pictureQueue = pictures;
    options.cards.devicePicture = [](const std::string&) { return std::optional<QImage>(); };
    options.cards.clock = clock;
    options.cards.dates = DateTexts("en_US", "UTC");
    return options;
}

void WindowHarness::settle() {
    for (int round = 0; round < 3; ++round) {
        host.queue->runUntilIdle();
        pictures->runUntilIdle();
        QCoreApplication::processEvents();
    }
}

SecretBytes WindowHarness::pairDevice(const std::string& id) {
    SecretBytes key = host.pairDevice(id);
    host.model->registry()->update(id, [](PairedDevice& device) {
        device.model = DeviceModel{.identifier = "iPad14,5", .name = std::nullopt};
        device.screenAspect = 2732.0 / 2048.0;
    });
    host.queue->runUntilIdle();
    return key;
}

bool WindowHarness::advertising() {
    const bool advertised = host.pumpUntil(
        [&] { return host.model->state().listenerState.kind() == HostListener::State::Kind::advertising; });
    settle();
    return advertised;
}

std::unique_ptr<TestClient> WindowHarness::connectDevice(const std::string& id) {
    auto client = host.connect(id, pairDevice(id));
    const bool connected =
        client && host.pumpUntil([&] { return host.model->state().connected.has_value(); });
    settle();
    return connected ? std::move(client) : nullptr;
}

} // namespace velm::test
