#include "Velm_Host/session/MainSession.h"

#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/AnswerFit.h"
#include "Velm_Host/session/InputSink.h"
#include "Velm_Host/session/InstalledAppPages.h"
#include "Velm_Host/session/SessionTextFocus.h"
#include "Velm_Host/session/SessionVideoSocket.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/MonotonicClock.h"

#include <utility>

namespace velm {

namespace {

const Log mainSessionLog("session");

using Ending = ConnectionRecord::Ending;

} // namespace

std::shared_ptr<MainSession> MainSession::make(Setup setup, ClientHello hello,
                                               HelloAdmission::Admitted admission, Snapshot snapshot) {
    return std::shared_ptr<MainSession>(
        new MainSession(std::move(setup), std::move(hello), std::move(admission), std::move(snapshot)));
}

MainSession::MainSession(Setup setup, ClientHello hello, HelloAdmission::Admitted admission,
                         Snapshot snapshot)
    : setup_(std::move(setup)), hello_(std::move(hello)), admission_(std::move(admission)),
      snapshot_(std::move(snapshot)) {}

void MainSession::start() {
    idleClock_.emplace(admission_.device.idleTimeout, clockSeconds());
    videoKey_ = Random::secret(HostSession::videoKeySize);
    sessionToken_ = Random::secret(HostSession::sessionTokenSize);
    video_ = SessionVideoSocket::open(videoKey_, sessionToken_, setup_.queue);
    if (!video_) {
        setup_.end(Ending::endedHere, std::nullopt);
        return;
    }
    video_->start();
    desktop().setClientMaxFPS(hello_.maxFPS);
    startDesktop();
    const auto& context = *setup_.context;
    textFocus_ = SessionTextFocus::make(context.makeTextFocus ? context.makeTextFocus() : nullptr,
                                        setup_.channel, setup_.queue);
    if (context.forwardVideoPort) {
        context.forwardVideoPort(video_->port(), onQueueWhileAlive(setup_.queue, shared_from_this(),
                                                                   &MainSession::videoPortForwarded));
    } else {
        sendHostHello(video_->port());
    }
}

void MainSession::setIdleTimeout(std::optional<double> seconds) {
    if (idleClock_) {
        idleClock_->setTimeout(seconds);
    }
}

// Input comes first: it is by far the most of what a client sends. Input and the client's messages and
// clipboard count only once it has the host's hello.
void MainSession::receive(const ControlChannel::Event& event) {
    using Event = ControlChannel::Event;
    if (isStopped_) {
        return;
    }
    if (const auto* input = event.get<Event::Input>()) {
        if (isRunning_) {
            inputArrived(input->event);
        }
    } else if (const auto* control = event.get<Event::Control>()) {
        if (!setup_.sessionTakes(control->message) && isRunning_) {
            messages().dispatch(*this, control->message);
        }
    } else if (const auto* clipboard = event.get<Event::Clipboard>()) {
        if (isRunning_) {
            desktop().receiveClipboard(clipboard->message);
        }
    } else if (event.get<Event::Closed>()) {
        setup_.end(Ending::connectionLost, std::nullopt);
    }
}

void MainSession::stop() {
    isRunning_ = false;
    isStopped_ = true;
    forgetSecrets();
    idleTimer_.cancel();
    if (video_) {
        video_->close();
    }
    if (input_) {
        input_->releaseAll();
    }
    if (textFocus_) {
        textFocus_->stop();
    }
    if (desktopStarted_) {
        desktop_->stop();
    }
}

// Keyframe requests, statistics and sound settings have no pipeline to go to yet, and what only the host
// sends means nothing when it arrives.
const MessageTable<MainSession>& MainSession::messages() {
    static const auto table = MessageTable<MainSession>()
                                  .on(&MainSession::ping)
                                  .on(&MainSession::stillHere)
                                  .on(&MainSession::configureStream)
                                  .on(&MainSession::pause)
                                  .on(&MainSession::listApps)
                                  .on(&MainSession::listInstalledApps)
                                  .on(&MainSession::sendDeviceImage)
                                  .on(&MainSession::setCurtain);
    return table;
}

void MainSession::videoPortForwarded(std::optional<std::uint16_t> externalPort) {
    if (isStopped_) {
        return;
    }
    if (!externalPort) {
        mainSessionLog.error("video port not forwarded");
    }
    sendHostHello(externalPort.value_or(video_->port()));
}

void MainSession::sendHostHello(std::uint16_t videoPort) {
    const auto& context = *setup_.context;
    const auto device = context.registry->device(snapshot_.deviceID);
    // A session from away waits for its port while the user may remove the device or pair it anew;
    // the host model ends only running sessions, so a key that no longer admits the device ends here.
    if (!device || device->key != admission_.device.key) {
        mainSessionLog.info("device removed or paired again before its session started");
        setup_.end(Ending::endedHere, ByeReason::notPaired);
        return;
    }
    isRunning_ = true;
    auto hello = Message::helloAck(HostHello(
        context.hostName, desktop().displays(), videoPort, videoKey_, sessionToken_, context.hostModel,
        context.hasDisplay, context.awayAddress, true, context.registry->awayExpiry(*device),
        idleClock_->timeout(), context.curtain->raise(device->curtain.value_or(false)),
        admission_.holdsAnotherAwayKey ? std::optional(true) : std::nullopt));
    setup_.channel->send(hello);
    // The video socket keeps its own copies; the client now has them.
    forgetSecrets();
    setup_.beginRecord(ConnectionRecord::Kind::session);
    scheduleIdleTick();
    mainSessionLog.info("session started");
    if (onRunning_) {
        onRunning_(snapshot_);
    }
}

void MainSession::forgetSecrets() {
    videoKey_ = SecretBytes();
    sessionToken_ = SecretBytes();
}

// Made at its first use, which comes only once a client is admitted.
SessionDesktop& MainSession::desktop() {
    if (!desktop_) {
        desktop_ = setup_.context->makeDesktop();
    }
    return *desktop_;
}

void MainSession::startDesktop() {
    desktopStarted_ = true;
    const auto self = shared_from_this();
    auto& desktop = this->desktop();
    desktop.setOnDisplaysChanged(
        whileAlive(self, [](MainSession& session, std::vector<DisplayInfo> displays) {
            session.sendWhileRunning(Message::displaysChanged(std::move(displays)));
            session.followDescribedScreen();
        }));
    desktop.setOnCursorShape(whileAlive(self, [](MainSession& session, CursorShape shape) {
        session.sendWhileRunning(Message::cursorShape(std::move(shape)));
    }));
    desktop.setOnClipboard(whileAlive(self, [](MainSession& session, const ClipboardMessage& message) {
        if (session.isRunning_) {
            session.setup_.channel->send(message);
        }
    }));
    desktop.setOnFilesAvailable(whileAlive(self, [](MainSession& session, std::vector<FileItem> files) {
        session.sendWhileRunning(Message::filesAvailable(std::move(files)));
    }));
    desktop.setOnAppModeEnded(whileAlive(self, [](MainSession& session, std::string reason) {
        session.sendWhileRunning(Message::appModeEnded(std::move(reason)));
    }));
    desktop.start(setup_.queue);
}

// Input has a screen to land on only from the first stream on.
void MainSession::startInput() {
    if (input_) {
        return;
    }
    input_ = setup_.context->makeInput();
    input_->setOnPointerPosition(whileAlive(shared_from_this(), &MainSession::pointerMoved));
    input_->start(setup_.queue);
}

// The described screen moved or changed size (another was added, removed or rearranged), or is gone:
// input and the text field's frame follow it rather than land where it was.
void MainSession::followDescribedScreen() {
    if (!snapshot_.stream) {
        return;
    }
    const auto screen = desktop().describedArea();
    if (screen == describedArea_) {
        return;
    }
    describedArea_ = screen;
    input_->setScreen(screen);
    if (!snapshot_.isPaused) {
        textFocus_->watch(screen);
    }
}

void MainSession::scheduleIdleTick() {
    idleTimer_ = setup_.queue->postAfter(HostSession::idleTickInterval,
                                         whileAlive(shared_from_this(), &MainSession::idleTick));
}

void MainSession::idleTick() {
    if (!isRunning_) {
        return;
    }
    const auto action = idleClock_->tick(clockSeconds());
    if (action.kind() == IdleClock::Action::Kind::end) {
        mainSessionLog.info("idle time-out");
        setup_.end(Ending::idleTimeout, ByeReason::idleTimeout);
        return;
    }
    // Only a client that understands the policy messages knows what a warning means.
    if (action.kind() == IdleClock::Action::Kind::warn && hello_.understandsPolicy.value_or(false)) {
        setup_.channel->send(Message::idleWarning(action.secondsLeft()));
    }
    textFocus_->tick();
    scheduleIdleTick();
}

void MainSession::activity() {
    idleClock_->activity(clockSeconds());
}

void MainSession::inputArrived(const InputEvent& event) {
    activity();
    textFocus_->inputArrived();
    // Before a stream there is no screen to play it on: a key-down then could stick for good.
    if (snapshot_.stream) {
        input_->handle(event);
    }
}

void MainSession::pointerMoved(SessionDesktop::PointerFraction position) {
    if (snapshot_.stream) {
        sendWhileRunning(Message::pointerPosition(position.x, position.y));
    }
}

void MainSession::sendWhileRunning(const ControlMessage& message) {
    if (isRunning_) {
        setup_.channel->send(message);
    }
}

void MainSession::sendPages(std::shared_ptr<const std::vector<ControlMessage>> pages) {
    if (isSendingPages_) {
        waitingPages_ = std::move(pages);
        return;
    }
    isSendingPages_ = true;
    sendOneAfterAnother(std::move(pages), 0);
}

// Each message goes once the one before is handed to the network: pages of icons sent all at once
// can overrun the connection's bounded write backlog, which fails the connection and ends the session.
void MainSession::sendOneAfterAnother(std::shared_ptr<const std::vector<ControlMessage>> messages,
                                      std::size_t next) {
    if (!isRunning_) {
        return;
    }
    if (next >= messages->size()) {
        isSendingPages_ = false;
        if (auto waiting = std::exchange(waitingPages_, nullptr)) {
            sendPages(std::move(waiting));
        }
        return;
    }
    const auto& message = (*messages)[next];
    setup_.channel->send(message,
                         whileAlive(shared_from_this(), [messages, next](MainSession& session, bool sent) {
                             // A page that could not go ends its list; the one waiting still has its turn.
                             session.sendOneAfterAnother(messages, sent ? next + 1 : messages->size());
                         }));
}

void MainSession::publishSnapshot() {
    if (onSnapshot_) {
        onSnapshot_(snapshot_);
    }
}

double MainSession::clockSeconds() const {
    return std::chrono::duration<double>(setup_.queue->now().time_since_epoch()).count();
}

void MainSession::ping(const Message::Ping& ping) {
    setup_.channel->send(Message::pong(ping.id, ping.clientTime, MonotonicClock::now()));
}

void MainSession::stillHere(const Message::StillHere&) {
    activity();
}

void MainSession::configureStream(const Message::ConfigureStream& configure) {
    const auto& request = configure.request;
    auto& desktop = this->desktop();
    snapshot_.isPaused = false;
    snapshot_.stream = desktop.describe(request);
    desktop.setCursorReports(snapshot_.stream && request.clientDrawsCursor.value_or(false));
    if (snapshot_.stream) {
        setup_.channel->send(Message::streamStarted(*snapshot_.stream));
        const auto screen = describedArea_ = desktop.describedArea();
        // The input sink reports the pointer at once, so the client hears it right after the stream.
        startInput();
        input_->setScreen(screen);
        textFocus_->watch(screen);
    } else {
        if (input_) {
            input_->setScreen(std::nullopt);
        }
        textFocus_->stop();
        mainSessionLog.error("no screen to stream");
    }
    publishSnapshot();
}

void MainSession::pause(const Message::PauseStream&) {
    snapshot_.isPaused = true;
    if (input_) {
        input_->letGo();
    }
    textFocus_->stop();
    publishSnapshot();
}

bool MainSession::asksAgain(OneAtATime& question) const {
    return question.answered() && isRunning_;
}

void MainSession::listApps(const Message::ListApps&) {
    if (runningAsked_.ask()) {
        askRunningApps();
    }
}

void MainSession::askRunningApps() {
    desktop().runningApps(whileAlive(shared_from_this(), [](MainSession& session, std::vector<AppInfo> apps) {
        session.sendWhileRunning(AnswerFit::apps(std::move(apps)));
        if (session.asksAgain(session.runningAsked_)) {
            session.askRunningApps();
        }
    }));
}

void MainSession::listInstalledApps(const Message::ListInstalledApps&) {
    if (installedAsked_.ask()) {
        askInstalledApps();
    }
}

void MainSession::askInstalledApps() {
    desktop().installedApps(
        whileAlive(shared_from_this(), [](MainSession& session, std::vector<AppInfo> apps) {
            auto pages = std::make_shared<std::vector<ControlMessage>>();
            for (auto& page : InstalledAppPages::of(std::move(apps))) {
                pages->push_back(AnswerFit::installedApps(std::move(page)));
            }
            session.sendPages(std::move(pages));
            if (session.asksAgain(session.installedAsked_)) {
                session.askInstalledApps();
            }
        }));
}

void MainSession::sendDeviceImage(const Message::RequestDeviceImage&) {
    if (deviceImageAsked_.ask()) {
        askDeviceImage();
    }
}

void MainSession::askDeviceImage() {
    desktop().deviceImage(whileAlive(shared_from_this(), [](MainSession& session,
                                                            SessionDesktop::DeviceImage image) {
        session.sendWhileRunning(AnswerFit::deviceImage(std::move(image.image), std::move(image.display)));
        if (session.asksAgain(session.deviceImageAsked_)) {
            session.askDeviceImage();
        }
    }));
}

void MainSession::setCurtain(const Message::SetCurtain& curtain) {
    mainSessionLog.info("curtain %s for %s", curtain.on ? "up" : "down", snapshot_.deviceName.c_str());
    setup_.channel->send(Message::curtain(setup_.context->curtain->set(curtain.on)));
}

} // namespace velm
