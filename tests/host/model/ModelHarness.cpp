#include "tests/host/model/ModelHarness.h"

#include "tests/support/Blocking.h"
#include "tests/support/Pump.h"

#include <utility>

namespace velm::test {

ModelHarness::ModelHarness() : model(makeModel()) {}

ModelHarness::ModelHarness(std::shared_ptr<HostDesktop> desktopOfModel)
    : modelDesktop(std::move(desktopOfModel)) {
    model = makeModel();
}

// The fakes' handlers hold the queue too, and so do channels until their cancel comes due.
ModelHarness::~ModelHarness() {
    model.reset();
    away->onStatus = nullptr;
    away->onConnection = nullptr;
    away->forwardDone = nullptr;
    away->stopDone = nullptr;
    curtain.reset();
    notifications.reset();
    if (sessionQueue != queue) {
        sessionQueue->advance(HostSession::cancelDelay);
        sessionQueue->runUntilIdle();
    }
    // Held here too while the sessions share the main queue.
    sessionQueue.reset();
    queue->advance(HostSession::cancelDelay);
    if (const auto listening = std::exchange(listenerQueue, nullptr)) {
        // The listener's last reports go through the main queue, which must run meanwhile.
        Blocking::waitUntil([&] {
            listening->runUntilIdle();
            queue->runUntilIdle();
            return listening.use_count() == 1;
        });
    }
    pumpUntilReleased(queue);
}

std::shared_ptr<HostModel> ModelHarness::makeModel() {
    HostModel::Setup setup;
    setup.queue = queue;
    setup.defaults = std::make_shared<DefaultsStore>(folder / "config");
    setup.secretsFolder = folder / "keychain";
    setup.downloadFolder = folder.path();
    setup.discovery = discovery;
    setup.desktop = modelDesktop;
    setup.away = away;
    setup.curtain = curtain;
    setup.notifications = notifications;
    setup.launchAtLogin = LaunchAtLogin(folder / "autostart", "/usr/bin/velm-host");
    setup.readRestartReadiness = [this] {
        ++readinessReads;
        return RestartReadiness{};
    };
    setup.sessionQueue = [this] {
        ++sessionsMade;
        return sessionQueue;
    };
    setup.listenerQueue = [this]() -> std::shared_ptr<Queue> {
        if (listenerQueue) {
            return listenerQueue;
        }
        return Queue::make("velm.host.listener");
    };
    setup.now = [this] { return now(); };
    setup.hostName = [this] { return hostName; };
    setup.interfaces = [this] { return interfaces; };
    return HostModel::make(std::move(setup));
}

void ModelHarness::start() {
    model->start();
    pumpUntil([&] { return model->state().listenerState.kind() == HostListener::State::Kind::advertising; });
}

bool ModelHarness::pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    return Blocking::waitUntil(
        [&] {
            if (listenerQueue) {
                listenerQueue->runUntilIdle();
            }
            queue->runUntilIdle();
            return condition();
        },
        limit);
}

SecretBytes ModelHarness::pairDevice(const std::string& id) {
    auto key = pairThrough(*model->registry(), id);
    queue->runUntilIdle();
    return key;
}

// A connection that meets a listener on its way to a start (remote access switched on, a retry) is tried
// again.
std::unique_ptr<TestClient> ModelHarness::readyClient(const std::string& deviceID, const SecretBytes& key) {
    using Event = ControlChannel::Event;
    for (int attempt = 0; attempt < 5; ++attempt) {
        pumpUntil(
            [&] { return model->state().listenerState.kind() == HostListener::State::Kind::advertising; });
        auto client =
            std::make_unique<TestClient>(endpoint(), *PreSharedKey::forDevice(deviceID, key.view()));
        pumpUntil([&] { return client->hasSeen<Event::Ready>() || client->hasSeen<Event::Closed>(); });
        if (client->hasSeen<Event::Ready>()) {
            return client;
        }
    }
    return nullptr;
}

Endpoint ModelHarness::endpoint() const {
    return Endpoint::hostPort("127.0.0.1", model->state().listenerState.port());
}

// A connection may meet the moment between two listeners (remote access switched on, a retry): it is tried
// again then.
std::unique_ptr<TestClient> ModelHarness::connect(const std::string& deviceID, const SecretBytes& key) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        pumpUntil(
            [&] { return model->state().listenerState.kind() == HostListener::State::Kind::advertising; });
        if (auto client =
                helloedClient(endpoint(), deviceID, key, [this](const auto& c) { return pumpUntil(c); })) {
            return client;
        }
    }
    return nullptr;
}

} // namespace velm::test
