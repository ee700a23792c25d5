#include "Velm_Host/session/HostSession.h"

#include "Velm_Host/core/BoundedText.h"
#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/GlimpseFit.h"
#include "Velm_Host/session/InputSink.h"
#include "Velm_Host/session/InstalledAppPages.h"
#include "Velm_Host/session/SessionFileTransfer.h"
#include "Velm_Host/session/SessionVideoSocket.h"
#include "Velm_Host/session/UnavailableCurtain.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/MonotonicClock.h"
#include "protocol/json/RawEnum.h"
#include "transport/away/HomeNetwork.h"
#include "transport/channel/VelmService.h"
#include "transport/keys/PreSharedKey.h"

#include <string>
#include <utility>

namespace velm {

namespace {

const Log hostSessionLog("session");

using Ending = ConnectionRecord::Ending;
using Message = ControlMessage;

HostSession::Context completed(HostSession::Context context) {
    if (!context.curtain) {
        context.curtain = std::make_shared<UnavailableCurtain>();
    }
    if (!context.route) {
        context.route = [](bool throughDoor, const std::optional<std::string>& peer,
                           const std::vector<std::string>& interfaces) {
            return HomeNetwork::route(throughDoor, peer, interfaces);
        };
    }
    return context;
}

// A goodbye from either side, or the idle clock. A replaced session's successor has the curtain already,
// the quit locks on its own, and a lost connection may come back.
bool endsInOrder(Ending ending) {
    return ending == Ending::disconnected || ending == Ending::endedHere || ending == Ending::idleTimeout;
}

bool opensAConnection(const ControlMessage& message) {
    return message.isOneOf<Message::Hello, Message::PairRequest, Message::RequestHistory,
                           Message::RequestGlimpse, Message::OpenFileTransfer>();
}

} // namespace

std::shared_ptr<HostSession> HostSession::make(std::shared_ptr<ControlChannel> channel, Context context,
                                               std::shared_ptr<Queue> queue) {
    return std::shared_ptr<HostSession>(
        new HostSession(std::move(channel), completed(std::move(context)), std::move(queue)));
}

HostSession::HostSession(std::shared_ptr<ControlChannel> channel, Context context,
                         std::shared_ptr<Queue> queue)
    : channel_(std::move(channel)), context_(std::move(context)), queue_(std::move(queue)) {}

HostSession::~HostSession() = default;

void HostSession::setOnAuthenticated(std::function<void(Snapshot)> handler) {
    onAuthenticated_ = std::move(handler);
}

void HostSession::setOnSnapshot(std::function<void(Snapshot)> handler) {
    onSnapshot_ = std::move(handler);
}

void HostSession::setOnEnded(std::function<void(Ended)> handler) {
    onEnded_ = std::move(handler);
}

void HostSession::setOnNotice(std::function<void(HostNotice)> handler) {
    onNotice_ = std::move(handler);
}

void HostSession::start() {
    queue_->post(whileAlive(shared_from_this(), &HostSession::begin));
}

void HostSession::close(std::optional<ByeReason> reason) {
    queue_->post(whileAlive(shared_from_this(), [reason](HostSession& self) { self.closeOnQueue(reason); }));
}

void HostSession::setIdleTimeout(std::optional<double> seconds) {
    queue_->post(whileAlive(shared_from_this(), [seconds](HostSession& self) {
        if (self.idleClock_) {
            self.idleClock_->setTimeout(seconds);
        }
    }));
}

void HostSession::begin() {
    channel_->setOnEvent(whileAlive(shared_from_this(), &HostSession::handle));
    channel_->start(queue_);
    helloTimer_ = queue_->postAfter(helloTimeout, whileAlive(shared_from_this(), [](HostSession& self) {
                                        if (self.stage_ == Stage::waiting) {
                                            hostSessionLog.info("no hello in time");
                                            self.end(Ending::endedHere, std::nullopt);
                                        }
                                    }));
}

// Nothing that arrives after the end is handled, and input counts only in the main session.
void HostSession::handle(const ControlChannel::Event& event) {
    if (stage_ == Stage::ended) {
        return;
    }
    using Event = ControlChannel::Event;
    if (const auto* control = event.get<Event::Control>()) {
        handleControl(control->message);
    } else if (const auto* input = event.get<Event::Input>()) {
        if (stage_ == Stage::running) {
            inputArrived(input->event);
        }
    } else if (const auto* clipboard = event.get<Event::Clipboard>()) {
        if (stage_ == Stage::running) {
            desktop().receiveClipboard(clipboard->message);
        }
    } else if (const auto* file = event.get<Event::File>()) {
        if (fileTransfer_) {
            fileTransfer_->receive(file->data);
        }
    } else if (event.get<Event::Closed>()) {
        channelClosed_ = true;
        if (!(fileTransfer_ && fileTransfer_->isSending())) {
            end(answered_ ? Ending::disconnected : Ending::connectionLost, std::nullopt);
        }
    }
}

void HostSession::handleControl(const ControlMessage& message) {
    if (message.get<Message::Bye>()) {
        end(Ending::disconnected, std::nullopt);
    } else if (stage_ == Stage::waiting) {
        handleFirst(message);
    } else if (opensAConnection(message)) {
        // A connection opens once: a second hello must not start the session over.
        hostSessionLog.error("second opening message");
        end(Ending::endedHere, ByeReason::notPaired);
    } else if (stage_ == Stage::running) {
        handleRunning(message);
    }
}

void HostSession::handleFirst(const ControlMessage& message) {
    if (!opensAConnection(message)) {
        return;
    }
    helloTimer_.cancel();
    if (const auto* hello = message.get<Message::Hello>()) {
        openMain(hello->hello);
    } else if (const auto* request = message.get<Message::PairRequest>()) {
        pair(request->request);
    } else if (const auto* history = message.get<Message::RequestHistory>()) {
        serveHistory(history->hello);
    } else if (const auto* glimpse = message.get<Message::RequestGlimpse>()) {
        serveGlimpse(glimpse->hello);
    } else if (const auto* file = message.get<Message::OpenFileTransfer>()) {
        serveFile(file->hello, file->request);
    }
}

void HostSession::handleRunning(const ControlMessage& message) {
    const auto self = shared_from_this();
    if (const auto* ping = message.get<Message::Ping>()) {
        channel_->send(Message::pong(ping->id, ping->clientTime, MonotonicClock::now()));
    } else if (message.get<Message::StillHere>()) {
        activity();
    } else if (const auto* configure = message.get<Message::ConfigureStream>()) {
        configureStream(configure->request);
    } else if (message.get<Message::PauseStream>()) {
        pause();
    } else if (message.get<Message::ListApps>()) {
        desktop().runningApps(whileAlive(self, [](HostSession& session, std::vector<AppInfo> apps) {
            session.sendWhileRunning(Message::apps(std::move(apps)));
        }));
    } else if (message.get<Message::ListInstalledApps>()) {
        desktop().installedApps(whileAlive(self, [](HostSession& session, std::vector<AppInfo> apps) {
            for (auto& page : InstalledAppPages::of(std::move(apps))) {
                session.sendWhileRunning(Message::installedApps(std::move(page)));
            }
        }));
    } else if (message.get<Message::RequestDeviceImage>()) {
        desktop().deviceImage(whileAlive(self, [](HostSession& session, SessionDesktop::DeviceImage image) {
            session.sendWhileRunning(Message::deviceImage(std::move(image.image), std::move(image.display)));
        }));
    } else if (const auto* curtain = message.get<Message::SetCurtain>()) {
        hostSessionLog.info("curtain %s for %s", curtain->on ? "up" : "down", snapshot_->deviceName.c_str());
        channel_->send(Message::curtain(context_.curtain->set(curtain->on)));
    }
    // Keyframe requests, statistics and sound settings have no pipeline to go to yet, and what only the
    // host sends means nothing when it arrives.
}

std::optional<HelloAdmission::Admitted> HostSession::admit(const ClientHello& hello) {
    hello_ = hello;
    peer_ = channel_->remoteHost();
    const auto identity = channel_->pskIdentity();
    route_ = context_.route(identity == PreSharedKey::awayIdentity, peer_, channel_->interfaceNames());
    auto result = HelloAdmission::check(
        hello, {.binding = channel_->sessionBinding(), .pskIdentity = identity, .route = route_},
        *context_.registry);
    if (const auto* refused = std::get_if<HelloAdmission::Refused>(&result)) {
        if (refused->refusal) {
            context_.history->recordRefusal(*refused->refusal, peerOf(hello));
        }
        notice(HostNotice::SessionRefused{.deviceName =
                                              boundedText(hello.deviceName, DeviceRegistry::maxNameBytes),
                                          .reason = refused->why});
        end(Ending::endedHere, refused->reason);
        return std::nullopt;
    }
    auto& admitted = std::get<HelloAdmission::Admitted>(result);
    recordVisit(hello, admitted);
    return std::move(admitted);
}

void HostSession::recordVisit(const ClientHello& hello, const HelloAdmission::Admitted& admission) {
    const Date now = Date::now();
    const bool atHome = route_ == ConnectionRecord::Route::home;
    context_.registry->update(admission.device.id, [&](PairedDevice& device) {
        device.lastConnected = now;
        if (atHome) {
            device.lastAtHome = now;
        }
        device.name = boundedText(hello.deviceName, DeviceRegistry::maxNameBytes);
        if (hello.model) {
            device.model = hello.model;
        }
        if (hello.screenPixelWidth > 0 && hello.screenPixelHeight > 0) {
            device.screenAspect =
                static_cast<double>(hello.screenPixelWidth) / static_cast<double>(hello.screenPixelHeight);
        }
        if (admission.awayKeyToEnrol) {
            hostSessionLog.info("device-bound key enrolled");
            device.awayPublicKey = admission.awayKeyToEnrol;
        }
    });
}

ConnectionHistory::Peer HostSession::peerOf(const ClientHello& hello) const {
    return {.deviceID = hello.deviceID,
            .deviceName = hello.deviceName,
            .route = route_,
            .from = peer_,
            .forwardSecret = channel_->forwardSecret()};
}

void HostSession::pair(const PairRequest& request) {
    stage_ = Stage::answering;
    const auto binding = channel_->sessionBinding();
    const auto result = binding
                            ? context_.registry->pair(request, *binding, channel_->pskIdentity().value_or(""))
                            : std::variant<PairResponse, DeviceRegistry::PairFailure>(
                                  DeviceRegistry::PairFailure::noSessionBinding);
    if (const auto* response = std::get_if<PairResponse>(&result)) {
        channel_->send(Message::pairResponse(*response));
        notice(HostNotice::DevicePaired{boundedText(request.deviceName, DeviceRegistry::maxNameBytes)});
        answered();
    } else {
        end(Ending::endedHere, ByeReason::notPaired);
    }
}

void HostSession::serveHistory(const ClientHello& hello) {
    stage_ = Stage::answering;
    if (admit(hello)) {
        channel_->send(Message::history(context_.history->log().records));
        answered();
    }
}

void HostSession::serveGlimpse(const ClientHello& hello) {
    stage_ = Stage::answering;
    if (!admit(hello)) {
        return;
    }
    // A picture now would show the shields, not the desktop.
    if (context_.curtain->coversScreens()) {
        channel_->send(Message::glimpse(std::nullopt));
        answered();
        return;
    }
    startDesktop();
    desktop().glimpse(GlimpseFit::maxJpegBytes(),
                      whileAlive(shared_from_this(), [](HostSession& self, std::optional<Bytes> jpeg) {
                          if (self.stage_ == Stage::answering) {
                              self.channel_->send(Message::glimpse(GlimpseFit::fitted(std::move(jpeg))));
                              self.answered();
                          }
                      }));
}

void HostSession::serveFile(const ClientHello& hello, const FileTransferRequest& request) {
    stage_ = Stage::answering;
    if (!admit(hello)) {
        return;
    }
    record_ = beginRecord(ConnectionRecord::Kind::file);
    startDesktop();
    fileTransfer_ = SessionFileTransfer::make(channel_, queue_, context_.downloadFolder, desktop_);
    fileTransfer_->setOnFinished(
        whileAlive(shared_from_this(), [](HostSession& self, SessionFileTransfer::Outcome outcome) {
            switch (outcome) {
            case SessionFileTransfer::Outcome::completed:
                if (const auto& stored = self.fileTransfer_->stored()) {
                    self.notice(HostNotice::FileReceived{.name = stored->file.filename().string(),
                                                         .size = stored->size,
                                                         .folder = stored->file.parent_path()});
                }
                if (self.channelClosed_) {
                    self.end(Ending::disconnected, std::nullopt);
                } else {
                    self.answered();
                }
                break;
            case SessionFileTransfer::Outcome::refused:
                self.end(Ending::endedHere, std::nullopt);
                break;
            case SessionFileTransfer::Outcome::failed:
                self.end(Ending::connectionLost, std::nullopt);
                break;
            }
        }));
    fileTransfer_->start(request);
}

// The client closes once it has its answer; one that lingers is let go shortly after.
void HostSession::notice(HostNotice notice) const {
    if (onNotice_) {
        onNotice_(std::move(notice));
    }
}

void HostSession::answered() {
    answered_ = true;
    answeredTimer_ = queue_->postAfter(answeredGrace, whileAlive(shared_from_this(), [](HostSession& self) {
                                           self.end(Ending::disconnected, std::nullopt);
                                       }));
}

void HostSession::openMain(const ClientHello& hello) {
    stage_ = Stage::admitting;
    const auto admission = admit(hello);
    if (!admission) {
        return;
    }
    holdsAnotherAwayKey_ = admission->holdsAnotherAwayKey;
    snapshot_ = Snapshot{.deviceID = hello.deviceID,
                         .deviceName = boundedText(hello.deviceName, DeviceRegistry::maxNameBytes),
                         .from = peer_,
                         .stream = std::nullopt,
                         .isPaused = false,
                         .isAway = route_ == ConnectionRecord::Route::door};
    idleClock_.emplace(admission->device.idleTimeout, clockSeconds());
    lastInput_ = queue_->now();
    videoKey_ = VelmService::randomBytes(videoKeySize);
    sessionToken_ = VelmService::randomBytes(sessionTokenSize);
    video_ = SessionVideoSocket::open(SecretBytes(videoKey_), sessionToken_, queue_);
    if (!video_) {
        end(Ending::endedHere, std::nullopt);
        return;
    }
    video_->start();
    desktop().setClientMaxFPS(hello.maxFPS);
    startDesktop();
    textFocus_ = context_.makeTextFocus ? context_.makeTextFocus() : nullptr;
    if (context_.forwardVideoPort) {
        context_.forwardVideoPort(
            video_->port(), onQueueWhileAlive(queue_, shared_from_this(), &HostSession::videoPortForwarded));
    } else {
        sendHostHello(video_->port());
    }
}

void HostSession::videoPortForwarded(std::optional<std::uint16_t> externalPort) {
    if (stage_ != Stage::admitting) {
        return;
    }
    if (!externalPort) {
        hostSessionLog.error("video port not forwarded");
    }
    sendHostHello(externalPort.value_or(video_->port()));
}

void HostSession::sendHostHello(std::uint16_t videoPort) {
    stage_ = Stage::running;
    const auto device = context_.registry->device(snapshot_->deviceID);
    channel_->send(Message::helloAck(
        HostHello(context_.hostName, desktop().displays(), videoPort, videoKey_, sessionToken_,
                  context_.hostModel, context_.hasDisplay, context_.awayAddress, true,
                  device ? context_.registry->awayExpiry(*device) : std::nullopt, idleClock_->timeout(),
                  context_.curtain->raise(device && device->curtain.value_or(false)),
                  holdsAnotherAwayKey_.value_or(false) ? std::optional(true) : std::nullopt)));
    record_ = beginRecord(ConnectionRecord::Kind::session);
    scheduleIdleTick();
    hostSessionLog.info("session started");
    if (onAuthenticated_) {
        onAuthenticated_(*snapshot_);
    }
}

// Made at its first use, which comes only once a client is admitted.
SessionDesktop& HostSession::desktop() {
    if (!desktop_) {
        desktop_ = context_.makeDesktop();
    }
    return *desktop_;
}

void HostSession::startDesktop() {
    if (desktopStarted_) {
        return;
    }
    desktopStarted_ = true;
    const auto self = shared_from_this();
    auto& desktop = this->desktop();
    desktop.setOnDisplaysChanged(
        whileAlive(self, [](HostSession& session, std::vector<DisplayInfo> displays) {
            session.sendWhileRunning(Message::displaysChanged(std::move(displays)));
        }));
    desktop.setOnCursorShape(whileAlive(self, [](HostSession& session, CursorShape shape) {
        session.sendWhileRunning(Message::cursorShape(std::move(shape)));
    }));
    desktop.setOnClipboard(whileAlive(self, &HostSession::sendClipboard));
    desktop.setOnFilesAvailable(whileAlive(self, [](HostSession& session, std::vector<FileItem> files) {
        session.sendWhileRunning(Message::filesAvailable(std::move(files)));
    }));
    desktop.setOnAppModeEnded(whileAlive(self, [](HostSession& session, std::string reason) {
        session.sendWhileRunning(Message::appModeEnded(std::move(reason)));
    }));
    desktop.start(queue_);
}

// Input has a screen to land on only from the first stream on.
void HostSession::startInput() {
    if (input_) {
        return;
    }
    input_ = context_.makeInput();
    input_->setOnPointerPosition(whileAlive(shared_from_this(), &HostSession::pointerMoved));
    input_->start(queue_);
}

void HostSession::scheduleIdleTick() {
    idleTimer_ = queue_->postAfter(idleTickInterval, whileAlive(shared_from_this(), &HostSession::idleTick));
}

void HostSession::idleTick() {
    if (stage_ != Stage::running) {
        return;
    }
    const auto action = idleClock_->tick(clockSeconds());
    if (action.kind() == IdleClock::Action::Kind::end) {
        hostSessionLog.info("idle time-out");
        end(Ending::idleTimeout, ByeReason::idleTimeout);
        return;
    }
    // Only a client that understands the policy messages knows what a warning means.
    if (action.kind() == IdleClock::Action::Kind::warn && hello_->understandsPolicy.value_or(false)) {
        channel_->send(Message::idleWarning(action.secondsLeft()));
    }
    quietTextFocus();
    scheduleIdleTick();
}

void HostSession::activity() {
    idleClock_->activity(clockSeconds());
}

void HostSession::inputArrived(const InputEvent& event) {
    activity();
    lastInput_ = queue_->now();
    if (std::exchange(textFocusQuiet_, false)) {
        textFocus_->setQuiet(false);
    }
    // Before a stream there is no screen to play it on: a key-down then could stick for good.
    if (snapshot_->stream) {
        input_->handle(event);
    }
}

void HostSession::configureStream(const StreamRequest& request) {
    auto& desktop = this->desktop();
    snapshot_->isPaused = false;
    snapshot_->stream = desktop.describe(request);
    desktop.setCursorReports(snapshot_->stream && request.clientDrawsCursor.value_or(false));
    if (snapshot_->stream) {
        channel_->send(Message::streamStarted(*snapshot_->stream));
        const auto screen = desktop.describedArea();
        // The input sink reports the pointer at once, so the client hears it right after the stream.
        startInput();
        input_->setScreen(screen);
        watchTextFocus(screen);
    } else {
        if (input_) {
            input_->setScreen(std::nullopt);
        }
        stopTextFocus();
        hostSessionLog.error("no screen to stream");
    }
    publishSnapshot();
}

void HostSession::pause() {
    snapshot_->isPaused = true;
    stopTextFocus();
    publishSnapshot();
}

void HostSession::pointerMoved(SessionDesktop::PointerFraction position) {
    if (snapshot_ && snapshot_->stream) {
        sendWhileRunning(Message::pointerPosition(position.x, position.y));
    }
}

// Each stream start watches afresh, so the client hears where the focus is on the screen it now sees.
void HostSession::watchTextFocus(const std::optional<SessionDesktop::Area>& screen) {
    if (!textFocus_) {
        return;
    }
    if (!screen) {
        stopTextFocus();
        return;
    }
    const auto watch = textFocusWatch_ = ++lastTextFocusWatch_;
    textFocusScreen_ = {{static_cast<double>(screen->x), static_cast<double>(screen->y)},
                        {static_cast<double>(screen->width), static_cast<double>(screen->height)}};
    textFocusQuiet_ = false;
    const auto self = shared_from_this();
    auto& focus = *textFocus_;
    focus.setOnChange(onQueueWhileAlive(queue_, self, [watch](HostSession& session, bool takesText) {
        session.textFocusChanged(watch, takesText);
    }));
    focus.setOnAreaChange(
        onQueueWhileAlive(queue_, self, [watch](HostSession& session, std::optional<Rect> frame) {
            session.textAreaChanged(watch, frame);
        }));
    focus.start();
}

void HostSession::stopTextFocus() {
    if (textFocusWatch_ == 0) {
        return;
    }
    textFocusWatch_ = 0;
    textFocusQuiet_ = false;
    textFocus_->stop();
}

void HostSession::quietTextFocus() {
    if (textFocusWatch_ != 0 && !textFocusQuiet_ && queue_->now() - lastInput_ > textFocusQuietAfter) {
        textFocusQuiet_ = true;
        textFocus_->setQuiet(true);
    }
}

void HostSession::textFocusChanged(std::uint64_t watch, bool takesText) {
    if (watch == textFocusWatch_) {
        channel_->send(Message::textInputFocus(takesText));
    }
}

void HostSession::textAreaChanged(std::uint64_t watch, std::optional<Rect> frame) {
    if (watch == textFocusWatch_) {
        channel_->send(Message::textInputArea(frame ? SessionTextFocus::inputArea(*frame, textFocusScreen_)
                                                    : std::nullopt));
    }
}

void HostSession::sendClipboard(const ClipboardMessage& message) {
    if (stage_ == Stage::running) {
        channel_->send(message);
    }
}

void HostSession::sendWhileRunning(const ControlMessage& message) {
    if (stage_ == Stage::running) {
        channel_->send(message);
    }
}

void HostSession::publishSnapshot() {
    if (onSnapshot_) {
        onSnapshot_(*snapshot_);
    }
}

Uuid HostSession::beginRecord(ConnectionRecord::Kind kind) {
    return context_.history->begin(kind, peerOf(*hello_));
}

void HostSession::closeOnQueue(std::optional<ByeReason> reason) {
    end(reason ? endingOf(*reason) : Ending::endedHere, reason);
}

void HostSession::end(ConnectionRecord::Ending ending, std::optional<ByeReason> goodbye) {
    if (stage_ == Stage::ended) {
        return;
    }
    const bool wasRunning = stage_ == Stage::running;
    stage_ = Stage::ended;
    if (goodbye) {
        channel_->send(Message::bye(hello_ ? adapted(*hello_, *goodbye) : *goodbye));
    }
    stopParts();
    queue_->postAfter(cancelDelay, [channel = channel_] { channel->cancel(); });
    if (wasRunning) {
        context_.curtain->sessionEnded(endsInOrder(ending));
    }
    if (record_) {
        context_.history->end(*record_, ending);
    }
    hostSessionLog.info("session ended: %s", std::string(rawValue(ending)).c_str());
    onAuthenticated_ = nullptr;
    onSnapshot_ = nullptr;
    if (const auto handler = std::exchange(onEnded_, nullptr)) {
        handler(Ended{.ending = ending, .snapshot = wasRunning ? snapshot_ : std::nullopt});
    }
}

void HostSession::stopParts() {
    helloTimer_.cancel();
    idleTimer_.cancel();
    answeredTimer_.cancel();
    if (video_) {
        video_->close();
    }
    if (fileTransfer_) {
        fileTransfer_->cancel();
    }
    if (input_) {
        input_->releaseAll();
    }
    stopTextFocus();
    if (desktopStarted_) {
        desktop_->stop();
    }
}

ConnectionRecord::Ending HostSession::endingOf(ByeReason reason) {
    switch (reason) {
    case ByeReason::replacedByNewSession:
        return Ending::replaced;
    case ByeReason::hostQuit:
    case ByeReason::poweringOff:
        return Ending::hostQuit;
    case ByeReason::idleTimeout:
        return Ending::idleTimeout;
    default:
        return Ending::endedHere;
    }
}

double HostSession::clockSeconds() const {
    return std::chrono::duration<double>(queue_->now().time_since_epoch()).count();
}

} // namespace velm
