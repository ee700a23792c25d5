#pragma once

#include "Velm_Host/away/AwayVisits.h"
#include "Velm_Host/away/HostAwayAccess.h"
#include "Velm_Host/core/ConnectionHistory.h"
#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/core/PairingWindow.h"
#include "Velm_Host/core/SnapshotStore.h"
#include "Velm_Host/model/HostCurtain.h"
#include "Velm_Host/model/HostDesktop.h"
#include "Velm_Host/model/HostSettings.h"
#include "Velm_Host/model/LaunchAtLogin.h"
#include "Velm_Host/model/LocalAddresses.h"
#include "Velm_Host/model/RestartReadiness.h"
#include "Velm_Host/session/HostNotice.h"
#include "Velm_Host/session/HostSession.h"
#include "platform/dbus/Notifications.h"
#include "platform/dbus/PowerOffWatcher.h"
#include "platform/discovery/Discovery.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/store/GenericPasswordStore.h"
#include "transport/discovery/HostListener.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// The whole host: settings, the paired devices and the pairing window, the history, the listener, every
// accepted session and the current one, away access and its visits, the permission timer and the
// observers of power-off and screen changes. start() starts all of it; quit() ends it in order.
//
// It lives on the main queue: every operation is called there, and the published state changes and is
// reported there (setOnChange), where the views read it. The parts it talks to report on queues of
// their own; it hops back to the main queue itself.
class HostModel : public std::enable_shared_from_this<HostModel> {
public:
    // What the views show.
    struct State {
        bool screenRecordingGranted = false;
        bool accessibilityGranted = false;
        HostListener::State listenerState = HostListener::State::stopped();
        // Whether devices find the host on the network (registered) or not and why; absent until the
        // advertisement first settled.
        std::optional<ServicePublisher::State> advertisement;
        std::optional<PairingWindow> pairingWindow;
        // The current session.
        std::optional<HostSession::Snapshot> connected;
        std::vector<PairedDevice> devices;
        RestartReadiness restartReadiness;
        bool allowRemoteAccess = true;
        bool allowAwayAccess = false;
        HostAwayAccess::Status awayStatus = HostAwayAccess::Status::off();
        int awayAccessDays = HostSettings::defaultAwayAccessDays;
        bool allowsAwayWithoutDeviceKey = true;
    };

    // Everything the model is built from; tests give temporary folders and fakes.
    struct Setup {
        std::shared_ptr<Queue> queue;
        std::shared_ptr<DefaultsStore> defaults;
        // The secrets folder of the keychain service "pellam.Velm.Host".
        std::filesystem::path secretsFolder;
        std::filesystem::path downloadFolder;
        std::shared_ptr<Discovery> discovery;
        HostListener::Options listenerOptions;
        // Emptied at start-up; none in tests that need no pictures.
        std::shared_ptr<SnapshotStore> snapshots;
        std::shared_ptr<HostDesktop> desktop;
        std::shared_ptr<HostAwayAccess> away = std::make_shared<NoAwayAccess>();
        std::shared_ptr<HostCurtain> curtain = std::make_shared<NoCurtain>();
        // None: no notices of away visits.
        std::shared_ptr<Notifications> notifications;
        // None: power-off is not watched.
        std::shared_ptr<PowerOffWatcher> powerOff;
        LaunchAtLogin launchAtLogin = LaunchAtLogin::standard();
        std::function<RestartReadiness()> readRestartReadiness = [] { return RestartReadiness::read(); };
        std::function<std::vector<InterfaceAddress>()> interfaces = NetworkInterfaces::addresses;
        std::function<std::shared_ptr<Queue>()> sessionQueue = [] {
            return Queue::make("velm.host.session");
        };
        std::function<std::shared_ptr<Queue>()> listenerQueue = [] {
            return Queue::make("velm.host.listener");
        };
        std::function<Date()> now = Date::now;
        // How the host presents itself: the computer's name, advertised and told in the host's hello.
        // Read again at each start of the listener and while it runs, so a renamed computer is
        // advertised under its new name.
        std::function<std::string()> hostName = [] { return std::string("Computer"); };
        std::optional<DeviceModel> hostModel;
    };

    static constexpr std::chrono::milliseconds permissionInterval{1500};
    // While both permissions are granted the timer does its work only on every such tick.
    static constexpr std::uint64_t grantedTickDivisor = 8;
    static constexpr std::uint64_t readinessTickDivisor = 4;
    // At quit, away access, the curtain and the sessions' ends are waited for this long at most.
    static constexpr std::chrono::seconds quitWaitLimit{2};
    // A goodbye is on its way once its session ended; this lets it leave before the process does.
    static constexpr std::chrono::milliseconds goodbyeGrace{300};
    // A listener that failed is started again after this pause, doubled after each failed retry up to
    // the limit, for as long as remote access is allowed.
    static constexpr std::chrono::seconds listenerRetryDelay{2};
    static constexpr std::chrono::seconds listenerRetryDelayLimit{60};

    // Registers and reads the settings; nothing runs before start().
    static std::shared_ptr<HostModel> make(Setup setup);

    ~HostModel();
    HostModel(const HostModel&) = delete;
    HostModel& operator=(const HostModel&) = delete;

    // After every change of state().
    void setOnChange(std::function<void()> handler);
    const State& state() const { return state_; }
    // Each notice as it happens: a device paired, a wrong pairing code, a hello refused, a file received.
    void setOnNotice(std::function<void(const HostNotice&)> handler);

    // The start-up sequence. Call once.
    void start();

    // Each saves the setting and, once started, makes it take effect.
    void setAllowRemoteAccess(bool allow);
    void setAllowAwayAccess(bool allow);
    void setAwayAccessDays(int days);
    void setAllowsAwayWithoutDeviceKey(bool allows);

    // Ends each of the device's sessions and forgets the device and its key.
    void removeDevice(const std::string& deviceID);
    // Every paired device, each with all its sessions.
    void removeAllDevices();
    // A non-positive idle time-out means none; a change reaches the device's sessions, also those on their
    // way in.
    void setDevicePolicy(const std::string& deviceID, std::optional<std::chrono::seconds> idleTimeout,
                         bool curtain);
    void setLaunchAtLogin(bool enabled);
    std::vector<LocalAddress> localAddresses() const;

    // The system goes down: the current session says goodbye with poweringOff, then `ready` is called.
    void prepareForPowerOff(std::function<void()> ready);
    // The orderly end: no new connections, the current session's goodbye (hostQuit), a raised curtain
    // locked and lowered, away access stopped; `done` once those finished or quitWaitLimit passed, but
    // never before a raised curtain is down (HostCurtain::quitLimit at most). Only the first call counts.
    void quit(std::function<void()> done);

    // Read directly by the views; present once started.
    const std::shared_ptr<DeviceRegistry>& registry() const { return registry_; }
    const std::shared_ptr<ConnectionHistory>& history() const { return history_; }
    const std::shared_ptr<AwayVisits>& awayVisits() const { return awayVisits_; }
    // The current session.
    std::shared_ptr<HostSession> session() const;

private:
    struct SessionEntry {
        std::shared_ptr<HostSession> session;
        std::optional<HostAwayAccess::Ticket> ticket;
        std::optional<AwayVisits::Session> visit;
    };

    explicit HostModel(Setup setup);

    void makeAwayVisits();
    void removeLeftovers();
    void loadRegistry();
    void logRestartReadiness() const;
    void readDesktopAccess();
    void readRestartReadiness();
    void prepareListener();
    void watchAway();
    void watchSystem();
    void scheduleTick();
    void tick();

    void startListener();
    void launchListener(std::vector<PreSharedKey> keys);
    void followComputerName();
    void followLocalAddresses();
    void stopListener();
    void listenerChanged(const HostListener::State& state);
    void planListenerRetry(const HostListener::State& state);
    void retryListener(std::chrono::seconds waited);
    void advertisementChanged(const ServicePublisher::State& state);
    void registryChanged();
    void endSessionsOfRetiredKeys(const std::vector<PairedDevice>& devices);
    void completeDeviceKeys();
    void refreshAway();
    void endWithdrawnAwaySessions();
    // Why a session from away of a device may not go on, judged by the settings and devices as they
    // stand now; none while it may.
    std::function<std::optional<ByeReason>(const std::string& deviceID)> awayVerdict() const;
    void requestNotices();

    void accept(std::shared_ptr<ControlChannel> channel, std::optional<HostAwayAccess::Ticket> ticket);
    HostSession::Context sessionContext(const std::optional<HostAwayAccess::Ticket>& ticket) const;
    void sessionAuthenticated(std::uint64_t id, const HostSession::Snapshot& snapshot);
    void sessionChanged(std::uint64_t id, const HostSession::Snapshot& snapshot);
    void sessionEnded(std::uint64_t id);
    void closeCurrent(ByeReason reason);
    void closeAll(ByeReason reason);
    void quitLimitPassed();
    void finishQuitWhenDone();
    void finishQuit();
    void publish();
    void notify(const HostNotice& notice);

    const Setup setup_;
    const HostSettings settings_;
    std::function<void()> onChange_;
    std::function<void(const HostNotice&)> onNotice_;
    State state_;

    // Made by start().
    bool started_ = false;
    std::string hostID_;
    std::shared_ptr<DeviceRegistry> registry_;
    std::shared_ptr<ConnectionHistory> history_;
    std::shared_ptr<AwayVisits> awayVisits_;
    std::shared_ptr<HostListener> listener_;
    // The listener's state as the log last told it.
    HostListener::State toldListener_ = HostListener::State::stopped();
    // The keys the listener was last started with; none while it is stopped.
    std::optional<std::vector<PreSharedKey>> listenerKeys_;
    // The name the listener was last started with: the one devices browsing now see.
    std::string advertisedName_;
    WorkItem listenerRetry_;
    // Retries since the listener last advertised or was started afresh.
    int listenerRetries_ = 0;
    WorkItem timer_;
    std::uint64_t ticks_ = 0;
    // The local addresses as the timer last found them.
    std::vector<LocalAddress> localAddresses_;

    std::map<std::uint64_t, SessionEntry> sessions_;
    std::uint64_t lastSessionID_ = 0;
    std::optional<std::uint64_t> current_;

    // The session whose goodbye the power-off waits for, and what then lets the system go on.
    std::optional<std::uint64_t> poweringOffSession_;
    std::function<void()> powerOffReady_;

    bool quitting_ = false;
    bool awayStopped_ = false;
    bool curtainDown_ = false;
    bool quitLimitPassed_ = false;
    std::function<void()> quitDone_;
    WorkItem quitLimit_;
};

} // namespace velm
