#pragma once

#include "Velm_Host/model/HostModel.h"
#include "platform/dispatch/ManualQueue.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/Blocking.h"
#include "tests/support/FakeDiscovery.h"
#include "tests/support/FakeSessionDesktop.h"
#include "tests/support/RecordingInputSink.h"
#include "tests/support/TemporaryFolder.h"

#include <memory>
#include <string>
#include <vector>

namespace velm::test {

// A desktop with fixed access that counts how often it was asked.
class FakeHostDesktop final : public HostDesktop {
public:
    std::shared_ptr<SessionDesktop> sessionDesktop() override {
        auto desktop = std::make_shared<FakeSessionDesktop>();
        desktop->installed = installed;
        desktop->running = running;
        desktop->images = images;
        return desktop;
    }
    std::shared_ptr<InputSink> sessionInput() override { return std::make_shared<RecordingInputSink>(); }
    std::shared_ptr<TextFocusWatch> sessionTextFocus() override { return nullptr; }
    bool hasDisplay() override { return false; }
    DesktopAccess access() override {
        ++accessReads;
        return granted;
    }
    void setOnScreensChanged(std::function<void()>) override {}

    DesktopAccess granted{.screenReading = true, .inputInjection = true};
    int accessReads = 0;
    // What the sessions' desktops answer.
    std::vector<AppInfo> installed;
    std::vector<AppInfo> running;
    SessionDesktop::DeviceImage images;
};

// Away access that notes every call in the shared order of events; stop and the forwarding of a video
// port complete when the test says.
class RecordingAwayAccess final : public HostAwayAccess {
public:
    explicit RecordingAwayAccess(std::shared_ptr<std::vector<std::string>> order)
        : order_(std::move(order)) {}

    void setOnStatus(StatusHandler handler) override { onStatus = std::move(handler); }
    void setOnConnection(ConnectionHandler handler) override { onConnection = std::move(handler); }
    void setEnabled(bool enabled, std::vector<Device> devices) override {
        std::vector<std::string> ids;
        for (const auto& device : devices) {
            ids.push_back(device.id);
        }
        enables.emplace_back(enabled, ids);
    }
    void connectionEnded(Ticket ticket) override { ended.push_back(ticket); }
    void forwardVideoPort(std::uint16_t port, Ticket ticket, VideoPortDone done) override {
        forwarded.emplace_back(port, ticket);
        forwardDone = std::move(done);
    }
    void stop(std::function<void()> done) override {
        order_->push_back("away stopping");
        stopDone = std::move(done);
    }

    StatusHandler onStatus;
    ConnectionHandler onConnection;
    std::vector<std::pair<bool, std::vector<std::string>>> enables;
    std::vector<Ticket> ended;
    std::vector<std::pair<std::uint16_t, Ticket>> forwarded;
    VideoPortDone forwardDone;
    std::function<void()> stopDone;

private:
    std::shared_ptr<std::vector<std::string>> order_;
};

class RecordingHostCurtain final : public HostCurtain {
public:
    explicit RecordingHostCurtain(std::shared_ptr<std::vector<std::string>> order)
        : order_(std::move(order)) {}

    std::shared_ptr<SessionCurtain> sessionCurtain() override { return std::make_shared<RecordingCurtain>(); }
    void hostQuit(std::string_view reason, std::function<void()> done) override {
        order_->push_back("curtain: " + std::string(reason));
        done();
    }

private:
    std::shared_ptr<std::vector<std::string>> order_;
};

// A model on temporary folders with fakes around it, on one manual queue that serves as the main queue
// and every session's; the listener is real, on loopback.
class ModelHarness {
public:
    ModelHarness();
    // A model on this desktop instead of the fake.
    explicit ModelHarness(std::shared_ptr<HostDesktop> desktopOfModel);
    ~ModelHarness();

    // A model on the same folders, as a second run of the host would make.
    std::shared_ptr<HostModel> makeModel();
    // Starts the model and waits for its listener to advertise.
    void start();
    bool pumpUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = Blocking::defaultLimit);
    // Pairs a device through the model's registry; its key.
    SecretBytes pairDevice(const std::string& id);
    // A client whose main session the host admitted.
    std::unique_ptr<TestClient> connect(const std::string& deviceID, const SecretBytes& key);
    // A client of the device whose connection is up, before its first message.
    std::unique_ptr<TestClient> readyClient(const std::string& deviceID, const SecretBytes& key);
    Endpoint endpoint() const;

    TemporaryFolder folder;
    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("main");
    // The queue of the sessions of models made from now on: the main one unless a test holds them apart.
    std::shared_ptr<ManualQueue> sessionQueue = queue;
    // The listener's queue of the models started from now on, run with the main one by pumpUntil; none
    // gives each listener a queue of its own.
    std::shared_ptr<ManualQueue> listenerQueue;
    // The date the models made from now on take for now.
    std::function<Date()> now = Date::now;
    // The computer's name as the model reads it.
    std::string hostName = "Test host";
    // The network interfaces as the model reads them.
    std::vector<InterfaceAddress> interfaces;
    std::shared_ptr<FakeDiscovery> discovery = std::make_shared<FakeDiscovery>();
    std::shared_ptr<FakeHostDesktop> desktop = std::make_shared<FakeHostDesktop>();
    std::shared_ptr<std::vector<std::string>> order = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<RecordingAwayAccess> away = std::make_shared<RecordingAwayAccess>(order);
    // For the models made from now on.
    std::shared_ptr<HostCurtain> curtain = std::make_shared<RecordingHostCurtain>(order);
    // For the models made from now on; none shows no notices.
    std::shared_ptr<Notifications> notifications;
    int readinessReads = 0;
    // Sessions the models made, one per connection they took.
    int sessionsMade = 0;
    std::shared_ptr<HostDesktop> modelDesktop = desktop;
    std::shared_ptr<HostModel> model;
};

} // namespace velm::test
