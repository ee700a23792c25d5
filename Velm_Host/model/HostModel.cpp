#include "Velm_Host/model/HostModel.h"

#include "Velm_Host/core/PairedDeviceStore.h"
#include "Velm_Host/model/AdvertisementNews.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/files/FileReceiver.h"
#include "transport/keys/KeychainStore.h"
#include "transport/keys/PreSharedKey.h"

#include <algorithm>
#include <utility>

namespace velm {
namespace {

const Log hostModelLog("host");

const char* describe(const std::optional<bool>& value) {
    return value ? (*value ? "yes" : "no") : "unknown";
}

// The date that orders devices for away access: the last connection, else the pairing.
Date lastSeen(const PairedDevice& device) {
    return device.lastConnected.value_or(device.pairedAt);
}

} // namespace

std::shared_ptr<HostModel> HostModel::make(Setup setup) {
    return std::shared_ptr<HostModel>(new HostModel(std::move(setup)));
}

HostModel::HostModel(Setup setup) : setup_(std::move(setup)), settings_(setup_.defaults) {
    state_.allowRemoteAccess = settings_.allowRemoteAccess();
    state_.allowAwayAccess = settings_.allowAwayAccess();
    state_.awayAccessDays = settings_.awayAccessDays();
    state_.allowsAwayWithoutDeviceKey = settings_.allowsAwayWithoutDeviceKey();
}

HostModel::~HostModel() {
    timer_.cancel();
    listenerRetry_.cancel();
    quitLimit_.cancel();
}

void HostModel::setOnChange(std::function<void()> handler) {
    onChange_ = std::move(handler);
}

void HostModel::setOnNotice(std::function<void(const HostNotice&)> handler) {
    onNotice_ = std::move(handler);
}

void HostModel::start() {
    if (started_) {
        return;
    }
    started_ = true;
    readDesktopAccess();
    readRestartReadiness();
    hostID_ = settings_.hostID();
    makeAwayVisits();
    history_ = ConnectionHistory::make(setup_.defaults, setup_.queue, {.now = setup_.now});
    removeLeftovers();
    loadRegistry();
    prepareListener();
    scheduleTick();
    watchSystem();
    watchAway();
    if (state_.allowRemoteAccess) {
        startListener();
    }
    refreshAway();
    if (state_.allowAwayAccess) {
        requestNotices();
    }
    completeDeviceKeys();
    logRestartReadiness();
    publish();
}

void HostModel::makeAwayVisits() {
    const auto self = shared_from_this();
    awayVisits_ = AwayVisits::make(setup_.defaults, setup_.notifications, setup_.queue);
    awayVisits_->setOnDisconnect(whileAlive(self, [](HostModel& model, const std::string& deviceID) {
        if (model.state_.connected && model.state_.connected->deviceID == deviceID) {
            model.closeCurrent(ByeReason::remoteAccessDisabled);
        }
    }));
    awayVisits_->setOnRemoveDevice(whileAlive(self, [](HostModel& model, const std::string& deviceID) {
        if (model.registry_->device(deviceID)) {
            model.removeDevice(deviceID);
        }
    }));
}

// Snapshots are taken afresh in every run, and a download cut short by a crash is never finished.
void HostModel::removeLeftovers() {
    if (setup_.snapshots) {
        setup_.snapshots->removeAll();
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(setup_.downloadFolder, ignored)) {
        FileReceiver::removeStalePartials(setup_.downloadFolder);
    }
}

// With no device paired, a code carried over from an earlier version opens a window.
void HostModel::loadRegistry() {
    registry_ =
        DeviceRegistry::make(PairedDeviceStore(KeychainStore(std::string(PairedDeviceStore::keychainService),
                                                             GenericPasswordStore(setup_.secretsFolder))),
                             hostID_, setup_.queue, {.now = setup_.now});
    registry_->setOnChange(whileAlive(shared_from_this(), &HostModel::registryChanged));
    // Told before the window's closing that the last try brings, which the registry publishes after it.
    registry_->setOnWrongCode(whileAlive(shared_from_this(), [](HostModel& model, int triesLeft) {
        model.notify(HostNotice::WrongPairingCode{triesLeft});
    }));
    registry_->load();
    registry_->setAwayLifetime(DeviceRegistry::awayLifetime(state_.awayAccessDays));
    registry_->setAllowsAwayWithoutDeviceKey(state_.allowsAwayWithoutDeviceKey);
    state_.devices = registry_->devices();
    state_.pairingWindow = registry_->pairingWindow();
}

void HostModel::logRestartReadiness() const {
    const auto& readiness = state_.restartReadiness;
    hostModelLog.info(
        "restart readiness: opens at login %s, logs in automatically %s, starts after power failure %s",
        readiness.opensAtLogin ? "yes" : "no", describe(readiness.logsInAutomatically),
        describe(readiness.startsAfterPowerFailure));
}

// On X11 nothing is granted per program: what the display accepts is what we may do.
void HostModel::readDesktopAccess() {
    const auto access = setup_.desktop->access();
    state_.screenRecordingGranted = access.screenReading;
    state_.accessibilityGranted = access.inputInjection;
}

void HostModel::readRestartReadiness() {
    state_.restartReadiness = setup_.readRestartReadiness();
}

void HostModel::prepareListener() {
    const auto self = shared_from_this();
    listener_ = HostListener::make(setup_.listenerQueue(), setup_.discovery, setup_.listenerOptions);
    listener_->setPreferredPort(settings_.listenPort());
    listener_->setOnState(onQueueWhileAlive(setup_.queue, self, &HostModel::listenerChanged));
    listener_->setOnAdvertisement(onQueueWhileAlive(setup_.queue, self, &HostModel::advertisementChanged));
    listener_->setOnConnection(
        onQueueWhileAlive(setup_.queue, self, [](HostModel& model, std::shared_ptr<ControlChannel> channel) {
            model.accept(std::move(channel), std::nullopt);
        }));
    // The registry hands each handshake its key itself: the code's, so that it can count what is checked,
    // and the devices' as they are at that moment, which the listener's own keys may not be yet.
    listener_->setKeyLender(registry_->listenerKeyLender());
}

void HostModel::watchAway() {
    const auto self = shared_from_this();
    setup_.away->setOnStatus(
        onQueueWhileAlive(setup_.queue, self, [](HostModel& model, HostAwayAccess::Status status) {
            model.state_.awayStatus = std::move(status);
            model.publish();
        }));
    setup_.away->setOnConnection(
        onQueueWhileAlive(setup_.queue, self,
                          [](HostModel& model, std::shared_ptr<ControlChannel> channel,
                             HostAwayAccess::Ticket ticket) { model.accept(std::move(channel), ticket); }));
}

void HostModel::watchSystem() {
    const auto self = shared_from_this();
    setup_.desktop->setOnScreensChanged(whileAlive(self, [](HostModel& model) {
        hostModelLog.info("screens changed");
        model.readDesktopAccess();
        model.publish();
    }));
    if (const auto watcher = setup_.powerOff) {
        // The watcher keeps its handler, so the handler must not keep the watcher.
        watcher->setOnPowerOff(whileAlive(self, [weakWatcher = std::weak_ptr(watcher)](HostModel& model) {
            hostModelLog.info("powering off");
            model.prepareForPowerOff([weakWatcher] {
                if (const auto held = weakWatcher.lock()) {
                    held->release();
                }
            });
        }));
        watcher->start();
    }
}

void HostModel::scheduleTick() {
    timer_ = setup_.queue->postAfter(permissionInterval, whileAlive(shared_from_this(), &HostModel::tick));
}

// Once both are granted they rarely change back, so the desktop is asked less often.
void HostModel::tick() {
    ++ticks_;
    const bool bothGranted = state_.screenRecordingGranted && state_.accessibilityGranted;
    if (!bothGranted || ticks_ % grantedTickDivisor == 0) {
        const State before = state_;
        readDesktopAccess();
        if (ticks_ % readinessTickDivisor == 0) {
            readRestartReadiness();
        }
        if (before.screenRecordingGranted != state_.screenRecordingGranted ||
            before.accessibilityGranted != state_.accessibilityGranted ||
            before.restartReadiness != state_.restartReadiness) {
            publish();
        }
    }
    if (ticks_ % readinessTickDivisor == 0) {
        followComputerName();
        followLocalAddresses();
    }
    // A device's days away run out by the clock alone too.
    endWithdrawnAwaySessions();
    scheduleTick();
}

// Every sync with the registry comes here. A listener that runs takes new keys as they are: a start
// would close its port, and with it the connections on their way from it to this queue (a device
// connecting as the user opens or closes a pairing window), and withdraw the advertisement for a
// moment. Only a listener that failed, or none, is started.
void HostModel::startListener() {
    auto keys = registry_->listenerKeys();
    if (listenerKeys_ == keys) {
        return;
    }
    if (listenerKeys_ && state_.listenerState.kind() != HostListener::State::Kind::failed) {
        listenerKeys_ = keys;
        listener_->setKeys(std::move(keys));
        followComputerName();
        return;
    }
    listenerRetries_ = 0;
    launchListener(std::move(keys));
}

void HostModel::launchListener(std::vector<PreSharedKey> keys) {
    listenerRetry_.cancel();
    listenerKeys_ = keys;
    advertisedName_ = setup_.hostName();
    listener_->start(advertisedName_, hostID_, std::move(keys));
}

// The advertisement carries the name: a renamed computer is advertised again under its new one (the
// only start of a running listener, which the rarity of a rename makes worth its cost).
void HostModel::followComputerName() {
    if (!listenerKeys_ || state_.listenerState.kind() == HostListener::State::Kind::failed ||
        setup_.hostName() == advertisedName_) {
        return;
    }
    hostModelLog.info("the computer was renamed: advertising it again");
    launchListener(*listenerKeys_);
}

// Nothing tells of a network that came or went (a cable plugged in, a VPN connected): the addresses the
// views show would stay as they were until some other change.
void HostModel::followLocalAddresses() {
    auto addresses = localAddresses();
    if (addresses != localAddresses_) {
        localAddresses_ = std::move(addresses);
        publish();
    }
}

void HostModel::stopListener() {
    listenerRetry_.cancel();
    listenerRetries_ = 0;
    listenerKeys_.reset();
    listener_->stop();
}

// A start again after a failure listens on the same port: that is no news.
void HostModel::listenerChanged(const HostListener::State& state) {
    const bool news =
        state.kind() != HostListener::State::Kind::starting && std::exchange(toldListener_, state) != state;
    if (state.kind() == HostListener::State::Kind::advertising && state.port() != 0) {
        if (news) {
            hostModelLog.info("listening on port %u", static_cast<unsigned>(state.port()));
        }
        if (settings_.listenPort() != state.port()) {
            settings_.setListenPort(state.port());
        }
    } else if (state.kind() == HostListener::State::Kind::failed) {
        hostModelLog.error("listener failed: %s", state.message().c_str());
    }
    planListenerRetry(state);
    state_.listenerState = state;
    publish();
}

// Nothing else starts a failed listener again while its keys stay the same, and the failure may pass (a
// process out of descriptors, an address that comes back): it is tried again, less often the more tries
// in a row failed. Any other report calls off a waiting retry: a failure that a newer start overtook on
// its way here is no reason to start again.
void HostModel::planListenerRetry(const HostListener::State& state) {
    listenerRetry_.cancel();
    if (state.kind() == HostListener::State::Kind::advertising) {
        listenerRetries_ = 0;
    }
    if (state.kind() != HostListener::State::Kind::failed || !listenerKeys_ || !state_.allowRemoteAccess ||
        quitting_) {
        return;
    }
    auto delay = listenerRetryDelay;
    for (int doubled = 0; doubled < listenerRetries_ && delay < listenerRetryDelayLimit; ++doubled) {
        delay *= 2;
    }
    delay = std::min(delay, listenerRetryDelayLimit);
    listenerRetry_ = setup_.queue->postAfter(
        delay, whileAlive(shared_from_this(), [delay](HostModel& model) { model.retryListener(delay); }));
}

void HostModel::retryListener(std::chrono::seconds waited) {
    hostModelLog.info("starting the failed listener again after %lld s",
                      static_cast<long long>(waited.count()));
    ++listenerRetries_;
    launchListener(registry_->listenerKeys());
}

// Every start of the listener publishes afresh: only a change between found and not found is news. The
// return is said at the level of the loss, so that whoever looks for warnings also sees it end.
void HostModel::advertisementChanged(const ServicePublisher::State& state) {
    if (state.kind() == ServicePublisher::State::Kind::registering || state_.advertisement == state) {
        return;
    }
    if (const auto news = advertisementNews(state_.advertisement, state, state_.listenerState.port())) {
        hostModelLog.warning("%s", news->c_str());
    }
    state_.advertisement = state;
    publish();
}

void HostModel::registryChanged() {
    auto devices = registry_->devices();
    endSessionsOfRetiredKeys(devices);
    state_.devices = std::move(devices);
    state_.pairingWindow = registry_->pairingWindow();
    if (state_.allowRemoteAccess && !quitting_) {
        startListener();
    }
    completeDeviceKeys();
    refreshAway();
    publish();
}

// A device paired again holds a new key, and the old one admits nothing from then on: what that key let
// in ends too, as it would had the device been removed. No session of the new key is among them: its
// device learns the key only from the answer sent after this change was posted here.
void HostModel::endSessionsOfRetiredKeys(const std::vector<PairedDevice>& devices) {
    for (const PairedDevice& before : state_.devices) {
        const auto now = std::find_if(devices.begin(), devices.end(),
                                      [&](const PairedDevice& device) { return device.id == before.id; });
        if (now == devices.end() || now->key == before.key) {
            continue;
        }
        for (const auto& [id, entry] : sessions_) {
            entry.session->closeForDevice(before.id, ByeReason::notPaired);
        }
    }
}

// Going without a device-bound key is for devices paired before there were such keys: once every
// device has one, it turns itself off, once.
void HostModel::completeDeviceKeys() {
    if (settings_.deviceKeysCompleted() || state_.devices.empty() ||
        !std::all_of(state_.devices.begin(), state_.devices.end(),
                     [](const PairedDevice& device) { return device.awayPublicKey.has_value(); })) {
        return;
    }
    settings_.setDeviceKeysCompleted();
    setAllowsAwayWithoutDeviceKey(false);
}

void HostModel::refreshAway() {
    if (!started_ || quitting_) {
        return;
    }
    auto devices = registry_->devices();
    std::stable_sort(devices.begin(), devices.end(),
                     [](const PairedDevice& a, const PairedDevice& b) { return lastSeen(a) > lastSeen(b); });
    std::vector<HostAwayAccess::Device> list;
    list.reserve(devices.size());
    for (const PairedDevice& device : devices) {
        list.push_back({.id = device.id, .key = device.key, .until = registry_->awayExpiry(device)});
    }
    // Also when nothing changed: each call makes away access build its keyring afresh at the next knock
    // and, while it is on, look at its doors and the router at once.
    setup_.away->setEnabled(state_.allowRemoteAccess && state_.allowAwayAccess, std::move(list));
    endWithdrawnAwaySessions();
}

// Away access only turning new knocks away would leave a device outside the home network its screen,
// input and files while the window says away access is off: what came in through the door ends with
// it. Sessions from the home network go on.
void HostModel::endWithdrawnAwaySessions() {
    if (std::none_of(sessions_.begin(), sessions_.end(),
                     [](const auto& session) { return static_cast<bool>(session.second.ticket); })) {
        return;
    }
    const bool awayAllowed = state_.allowRemoteAccess && state_.allowAwayAccess;
    const auto verdict = awayVerdict();
    for (const auto& [id, entry] : sessions_) {
        if (!entry.ticket) {
            continue;
        }
        // Also the sessions still on their way in, whose device is not known yet.
        if (!awayAllowed) {
            entry.session->close(ByeReason::remoteAccessDisabled);
        } else {
            entry.session->closeByDevice(verdict);
        }
    }
}

// A device forgotten, or whose time away ran out, has had its access withdrawn; one without a
// device-bound key once such keys are required is told what it lacks, as its hello would be.
std::function<std::optional<ByeReason>(const std::string& deviceID)> HostModel::awayVerdict() const {
    const Date now = setup_.now();
    const bool keyRequired = !registry_->allowsAwayWithoutDeviceKey();
    std::map<std::string, std::optional<ByeReason>> verdicts;
    for (const PairedDevice& device : registry_->devices()) {
        const auto until = registry_->awayExpiry(device);
        if (until && *until <= now) {
            verdicts[device.id] = ByeReason::remoteAccessDisabled;
        } else if (keyRequired && !device.awayPublicKey) {
            verdicts[device.id] = ByeReason::awayKeyRequired;
        } else {
            verdicts[device.id] = std::nullopt;
        }
    }
    return [verdicts = std::move(verdicts)](const std::string& deviceID) -> std::optional<ByeReason> {
        const auto found = verdicts.find(deviceID);
        return found == verdicts.end() ? std::optional(ByeReason::remoteAccessDisabled) : found->second;
    };
}

void HostModel::requestNotices() {
    if (!setup_.notifications) {
        return;
    }
    setup_.notifications->checkSupport(
        onQueueWhileAlive(setup_.queue, shared_from_this(), [](HostModel& model, Notifications::Check check) {
            model.awayVisits_->requestNotices(check);
        }));
}

void HostModel::setAllowRemoteAccess(bool allow) {
    settings_.setAllowRemoteAccess(allow);
    const bool changed = std::exchange(state_.allowRemoteAccess, allow) != allow;
    if (started_ && changed && !quitting_) {
        if (allow) {
            startListener();
        } else {
            stopListener();
            // Also the sessions still on their way in, whose hello would otherwise admit them after this.
            closeAll(ByeReason::remoteAccessDisabled);
        }
        refreshAway();
    }
    publish();
}

void HostModel::setAllowAwayAccess(bool allow) {
    settings_.setAllowAwayAccess(allow);
    const bool changed = std::exchange(state_.allowAwayAccess, allow) != allow;
    if (started_ && changed) {
        refreshAway();
        if (allow) {
            requestNotices();
        }
    }
    publish();
}

void HostModel::setAwayAccessDays(int days) {
    const int kept = HostSettings::awayAccessDays(days);
    settings_.setAwayAccessDays(kept);
    state_.awayAccessDays = kept;
    if (started_) {
        registry_->setAwayLifetime(DeviceRegistry::awayLifetime(kept));
        refreshAway();
    }
    publish();
}

void HostModel::setAllowsAwayWithoutDeviceKey(bool allows) {
    settings_.setAllowsAwayWithoutDeviceKey(allows);
    state_.allowsAwayWithoutDeviceKey = allows;
    if (started_) {
        registry_->setAllowsAwayWithoutDeviceKey(allows);
        refreshAway();
    }
    publish();
}

// Every session of the device ends, not only the current one: a file moving or a session still on its
// way in would otherwise go on for a device that is no longer paired. The registry forgets it first, so
// that a hello still on its way is turned away.
void HostModel::removeDevice(const std::string& deviceID) {
    if (registry_) {
        registry_->remove(deviceID);
    }
    for (const auto& [id, entry] : sessions_) {
        entry.session->closeForDevice(deviceID, ByeReason::remoteAccessDisabled);
    }
}

void HostModel::removeAllDevices() {
    if (registry_) {
        registry_->remove(std::nullopt);
    }
    for (const auto& [id, entry] : sessions_) {
        entry.session->closeByDevice(
            [](const std::string&) { return std::optional(ByeReason::remoteAccessDisabled); });
    }
}

void HostModel::setDevicePolicy(const std::string& deviceID, std::optional<std::chrono::seconds> idleTimeout,
                                bool curtain) {
    if (!registry_) {
        return;
    }
    const auto before = registry_->device(deviceID);
    registry_->setDevicePolicy(deviceID, idleTimeout, curtain);
    const auto after = registry_->device(deviceID);
    if (!before || !after || before->idleTimeout == after->idleTimeout) {
        return;
    }
    // Not only the current session: one admitted before this change, whose start has not reached this
    // queue (a session from away waits for the router), would keep the old time-out for good.
    for (const auto& [id, entry] : sessions_) {
        entry.session->setIdleTimeout(deviceID, after->idleTimeout);
    }
}

void HostModel::setLaunchAtLogin(bool enabled) {
    if (const auto failure = setup_.launchAtLogin.set(enabled)) {
        hostModelLog.error("Velm: launch-at-login change failed: %s", failure->c_str());
    }
    readRestartReadiness();
    publish();
}

std::vector<LocalAddress> HostModel::localAddresses() const {
    return velm::localAddresses(state_.listenerState, setup_.interfaces());
}

std::shared_ptr<HostSession> HostModel::session() const {
    if (!current_) {
        return nullptr;
    }
    const auto found = sessions_.find(*current_);
    return found == sessions_.end() ? nullptr : found->second.session;
}

void HostModel::accept(std::shared_ptr<ControlChannel> channel,
                       std::optional<HostAwayAccess::Ticket> ticket) {
    // Refused without a word: a client that is not let in learns nothing about the host.
    if (quitting_ || !state_.allowRemoteAccess || (ticket && !state_.allowAwayAccess)) {
        channel->cancel();
        if (ticket) {
            setup_.away->connectionEnded(*ticket);
        }
        return;
    }
    const auto id = ++lastSessionID_;
    auto session = HostSession::make(std::move(channel), sessionContext(ticket), setup_.sessionQueue());
    const auto self = shared_from_this();
    session->setOnAuthenticated(
        onQueueWhileAlive(setup_.queue, self, [id](HostModel& model, HostSession::Snapshot snapshot) {
            model.sessionAuthenticated(id, snapshot);
        }));
    session->setOnSnapshot(
        onQueueWhileAlive(setup_.queue, self, [id](HostModel& model, HostSession::Snapshot snapshot) {
            model.sessionChanged(id, snapshot);
        }));
    session->setOnNotice(onQueueWhileAlive(setup_.queue, self, &HostModel::notify));
    session->setOnEnded(onQueueWhileAlive(
        setup_.queue, self, [id](HostModel& model, HostSession::Ended) { model.sessionEnded(id); }));
    sessions_[id] = {.session = session, .ticket = ticket, .visit = std::nullopt};
    session->start();
}

HostSession::Context HostModel::sessionContext(const std::optional<HostAwayAccess::Ticket>& ticket) const {
    HostSession::Context context;
    context.registry = registry_;
    context.history = history_;
    context.makeDesktop = [desktop = setup_.desktop] { return desktop->sessionDesktop(); };
    context.makeInput = [desktop = setup_.desktop] { return desktop->sessionInput(); };
    context.makeTextFocus = [desktop = setup_.desktop] { return desktop->sessionTextFocus(); };
    context.curtain = setup_.curtain->sessionCurtain();
    context.hostName = advertisedName_;
    context.hostModel = setup_.hostModel;
    context.hasDisplay = setup_.desktop->hasDisplay();
    if (state_.awayStatus.kind() == HostAwayAccess::Status::Kind::ready) {
        context.awayAddress = state_.awayStatus.address();
    }
    if (ticket) {
        context.forwardVideoPort = [away = setup_.away, ticket = *ticket](std::uint16_t port,
                                                                          auto completion) {
            away->forwardVideoPort(port, ticket, std::move(completion));
        };
    }
    context.downloadFolder = setup_.downloadFolder;
    return context;
}

void HostModel::sessionAuthenticated(std::uint64_t id, const HostSession::Snapshot& snapshot) {
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) {
        return;
    }
    if (quitting_) {
        found->second.session->close(ByeReason::hostQuit);
        return;
    }
    // Remote access, or away access for a session from away, was switched off while this report was on
    // its way.
    if (!state_.allowRemoteAccess || (found->second.ticket && !state_.allowAwayAccess)) {
        found->second.session->close(ByeReason::remoteAccessDisabled);
        return;
    }
    // The device may have been removed while this report was on its way: it must not replace the
    // session of a device that is still paired.
    if (!registry_->device(snapshot.deviceID)) {
        found->second.session->close(ByeReason::notPaired);
        return;
    }
    if (found->second.ticket) {
        if (const auto withdrawn = awayVerdict()(snapshot.deviceID)) {
            found->second.session->close(*withdrawn);
            return;
        }
    }
    if (current_ && *current_ != id) {
        closeCurrent(ByeReason::replacedByNewSession);
    }
    current_ = id;
    if (snapshot.isAway) {
        found->second.visit =
            awayVisits_->sessionStarted(snapshot.deviceID, snapshot.deviceName, snapshot.from, setup_.now());
    }
    hostModelLog.info("session started: %s", snapshot.deviceName.c_str());
    state_.connected = snapshot;
    refreshAway();
    publish();
}

void HostModel::sessionChanged(std::uint64_t id, const HostSession::Snapshot& snapshot) {
    if (current_ == id) {
        state_.connected = snapshot;
        publish();
    }
}

// The session closed its history record before it reported its end.
void HostModel::sessionEnded(std::uint64_t id) {
    auto node = sessions_.extract(id);
    if (node.empty()) {
        return;
    }
    const SessionEntry& entry = node.mapped();
    if (entry.visit) {
        awayVisits_->sessionEnded(*entry.visit, setup_.now());
    }
    if (entry.ticket) {
        setup_.away->connectionEnded(*entry.ticket);
    }
    if (current_ == id) {
        current_.reset();
        state_.connected.reset();
        publish();
    }
    if (poweringOffSession_ == id) {
        poweringOffSession_.reset();
        setup_.queue->postAfter(goodbyeGrace, std::exchange(powerOffReady_, nullptr));
    }
    if (quitting_) {
        finishQuitWhenDone();
    }
}

void HostModel::closeCurrent(ByeReason reason) {
    if (const auto current = session()) {
        current->close(reason);
    }
}

void HostModel::closeAll(ByeReason reason) {
    for (const auto& entry : sessions_) {
        entry.second.session->close(reason);
    }
}

void HostModel::prepareForPowerOff(std::function<void()> ready) {
    if (!current_) {
        ready();
        return;
    }
    poweringOffSession_ = current_;
    powerOffReady_ = std::move(ready);
    closeCurrent(ByeReason::poweringOff);
}

void HostModel::quit(std::function<void()> done) {
    if (quitting_) {
        return;
    }
    quitting_ = true;
    quitDone_ = std::move(done);
    hostModelLog.info("quitting");
    if (listener_) {
        stopListener();
    }
    // Every session, also one whose admission has not reached this queue yet.
    closeAll(ByeReason::hostQuit);
    const auto self = shared_from_this();
    setup_.curtain->hostQuit(HostCurtain::quitReason,
                             onQueueWhileAlive(setup_.queue, self, [](HostModel& model) {
                                 model.curtainDown_ = true;
                                 model.finishQuitWhenDone();
                             }));
    setup_.away->stop(onQueueWhileAlive(setup_.queue, self, [](HostModel& model) {
        model.awayStopped_ = true;
        model.finishQuitWhenDone();
    }));
    quitLimit_ = setup_.queue->postAfter(quitWaitLimit, whileAlive(self, &HostModel::quitLimitPassed));
}

// Away access and the sessions are given up on here, a raised curtain is not: its shields must stay
// until the lock answered, or the desktop may be shown before it is locked.
void HostModel::quitLimitPassed() {
    quitLimitPassed_ = true;
    if (curtainDown_) {
        finishQuit();
        return;
    }
    quitLimit_ = setup_.queue->postAfter(HostCurtain::quitLimit - quitWaitLimit,
                                         whileAlive(shared_from_this(), &HostModel::finishQuit));
}

void HostModel::finishQuitWhenDone() {
    if (curtainDown_ && quitDone_ && (quitLimitPassed_ || (awayStopped_ && sessions_.empty()))) {
        quitLimit_.cancel();
        quitLimit_ =
            setup_.queue->postAfter(goodbyeGrace, whileAlive(shared_from_this(), &HostModel::finishQuit));
    }
}

void HostModel::finishQuit() {
    timer_.cancel();
    if (const auto done = std::exchange(quitDone_, nullptr)) {
        done();
    }
}

void HostModel::publish() {
    if (onChange_) {
        onChange_();
    }
}

void HostModel::notify(const HostNotice& notice) {
    if (onNotice_) {
        onNotice_(notice);
    }
}

} // namespace velm
