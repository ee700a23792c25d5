#include "Velm_Host/session/HostSession.h"

#include "Velm_Host/core/BoundedText.h"
#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/MainSession.h"
#include "Velm_Host/session/OneShotAnswer.h"
#include "Velm_Host/session/UnavailableCurtain.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "protocol/json/RawEnum.h"
#include "transport/away/HomeNetwork.h"
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

} // namespace

std::shared_ptr<HostSession> HostSession::make(std::shared_ptr<ControlChannel> channel, Context context,
                                               std::shared_ptr<Queue> queue) {
    return std::shared_ptr<HostSession>(
        new HostSession(std::move(channel), completed(std::move(context)), std::move(queue)));
}

HostSession::HostSession(std::shared_ptr<ControlChannel> channel, Context context,
                         std::shared_ptr<Queue> queue)
    : channel_(std::move(channel)), context_(std::make_shared<const Context>(std::move(context))),
      queue_(std::move(queue)) {}

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
    queue_->post(whileAlive(shared_from_this(), [reason](HostSession& self) {
        self.end(reason ? endingOf(*reason) : Ending::endedHere, reason);
    }));
}

void HostSession::closeForDevice(std::string deviceID, ByeReason reason) {
    queue_->post(whileAlive(shared_from_this(), [deviceID = std::move(deviceID), reason](HostSession& self) {
        if (self.hello_ && self.hello_->deviceID == deviceID) {
            self.end(endingOf(reason), reason);
        }
    }));
}

void HostSession::closeByDevice(
    std::function<std::optional<ByeReason>(const std::string& deviceID)> verdict) {
    queue_->post(whileAlive(shared_from_this(), [verdict = std::move(verdict)](HostSession& self) {
        if (!self.hello_) {
            return;
        }
        if (const auto reason = verdict(self.hello_->deviceID)) {
            self.end(endingOf(*reason), *reason);
        }
    }));
}

void HostSession::setIdleTimeout(std::string deviceID, std::optional<double> seconds) {
    queue_->post(whileAlive(shared_from_this(), [deviceID = std::move(deviceID), seconds](HostSession& self) {
        if (self.main_ && self.hello_->deviceID == deviceID) {
            self.main_->setIdleTimeout(seconds);
        }
    }));
}

void HostSession::begin() {
    channel_->setOnEvent(whileAlive(shared_from_this(), &HostSession::handle));
    channel_->start(queue_);
    helloTimer_ = queue_->postAfter(helloTimeout, whileAlive(shared_from_this(), [](HostSession& self) {
                                        if (!self.stage_) {
                                            hostSessionLog.info("no hello in time");
                                            self.end(Ending::endedHere, std::nullopt);
                                        }
                                    }));
}

// Nothing that arrives after the end is handled; before the first message only an opening and a
// goodbye count.
void HostSession::handle(const ControlChannel::Event& event) {
    using Event = ControlChannel::Event;
    if (isEnded_) {
        return;
    }
    if (stage_) {
        // Delivered before the stage had the channel.
        stage_->receive(event);
    } else if (const auto* control = event.get<Event::Control>()) {
        handledHere(control->message);
    } else if (event.get<Event::Closed>()) {
        end(Ending::connectionLost, std::nullopt);
    }
}

bool HostSession::handledHere(const ControlMessage& message) {
    if (message.get<Message::Bye>()) {
        end(Ending::disconnected, std::nullopt);
        return true;
    }
    if (!openings().names(message)) {
        return false;
    }
    if (stage_) {
        // A connection opens once: a second hello must not start the session over.
        hostSessionLog.error("second opening message");
        end(Ending::endedHere, ByeReason::notPaired);
    } else {
        helloTimer_.cancel();
        openings().dispatch(*this, message);
    }
    return true;
}

const MessageTable<HostSession>& HostSession::openings() {
    static const auto table = MessageTable<HostSession>()
                                  .on(&HostSession::openMain)
                                  .on(&HostSession::openPairing)
                                  .on(&HostSession::openHistory)
                                  .on(&HostSession::openGlimpse)
                                  .on(&HostSession::openFileTransfer);
    return table;
}

void HostSession::openMain(const ControlMessage::Hello& message) {
    const auto& hello = message.hello;
    auto admission = admit(hello);
    if (!admission) {
        return;
    }
    const Snapshot snapshot{.deviceID = hello.deviceID,
                            .deviceName = DeviceRegistry::keptName(hello.deviceName),
                            .from = peer_,
                            .stream = std::nullopt,
                            .isPaused = false,
                            .isAway = route_ == ConnectionRecord::Route::door};
    main_ = MainSession::make(stageSetup(), hello, std::move(*admission), snapshot);
    const auto self = shared_from_this();
    main_->setOnRunning(whileAlive(self, [](HostSession& session, Snapshot running) {
        if (session.onAuthenticated_) {
            session.onAuthenticated_(std::move(running));
        }
    }));
    main_->setOnSnapshot(whileAlive(self, [](HostSession& session, Snapshot changed) {
        if (session.onSnapshot_) {
            session.onSnapshot_(std::move(changed));
        }
    }));
    handOver(main_);
    main_->start();
}

void HostSession::openPairing(const ControlMessage::PairRequest& message) {
    answer()->pair(message.request);
}

void HostSession::openHistory(const ControlMessage::RequestHistory& message) {
    if (admit(message.hello)) {
        answer()->sendHistory();
    }
}

void HostSession::openGlimpse(const ControlMessage::RequestGlimpse& message) {
    if (admit(message.hello)) {
        answer()->sendGlimpse();
    }
}

void HostSession::openFileTransfer(const ControlMessage::OpenFileTransfer& message) {
    if (admit(message.hello)) {
        answer()->transferFile(message.request);
    }
}

std::shared_ptr<OneShotAnswer> HostSession::answer() {
    auto answer = OneShotAnswer::make(stageSetup());
    handOver(answer);
    return answer;
}

// The channel's events go to the stage from now on. Not at once: the channel is delivering the opening
// message, and its handler must not be replaced under it.
void HostSession::handOver(std::shared_ptr<SessionStage> stage) {
    stage_ = std::move(stage);
    queue_->post(whileAlive(shared_from_this(), [](HostSession& self) {
        if (!self.isEnded_) {
            self.channel_->setOnEvent(whileAlive(self.stage_, &SessionStage::receive));
        }
    }));
}

SessionStage::Setup HostSession::stageSetup() {
    const auto self = shared_from_this();
    return {.channel = channel_,
            .context = context_,
            .queue = queue_,
            .end = whileAlive(self, &HostSession::end),
            .notice = whileAlive(self, &HostSession::notice),
            .beginRecord = whileAlive(self,
                                      [](HostSession& session, ConnectionRecord::Kind kind) {
                                          session.record_ = session.context_->history->begin(
                                              kind, session.peerOf(*session.hello_));
                                      }),
            .sessionTakes = [weak = std::weak_ptr(self)](const ControlMessage& message) {
                const auto session = weak.lock();
                return session && session->handledHere(message);
            }};
}

std::optional<HelloAdmission::Admitted> HostSession::admit(const ClientHello& hello) {
    hello_ = hello;
    peer_ = channel_->remoteHost();
    const auto identity = channel_->pskIdentity();
    route_ = context_->route(identity == PreSharedKey::awayIdentity, peer_, channel_->interfaceNames());
    auto result = HelloAdmission::check(
        hello, {.binding = channel_->sessionBinding(), .pskIdentity = identity, .route = route_},
        *context_->registry);
    if (const auto* refused = std::get_if<HelloAdmission::Refused>(&result)) {
        // A refused hello has not shown that it speaks for the device it names: a paired device keeps the
        // name it has, in the history and in the notice.
        const auto device = context_->registry->device(hello.deviceID);
        ConnectionHistory::Peer peer = peerOf(hello);
        if (device) {
            peer.deviceName = device->name;
        }
        if (refused->refusal) {
            context_->history->recordRefusal(*refused->refusal, peer);
        }
        notice(HostNotice::SessionRefused{.deviceName = peer.deviceName, .reason = refused->why});
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
    context_->registry->update(admission.device.id, [&](PairedDevice& device) {
        device.lastConnected = now;
        if (atHome) {
            device.lastAtHome = now;
        }
        device.name = boundedText(hello.deviceName, DeviceRegistry::maxNameBytes);
        if (hello.model) {
            // Kept with the device and shown as its name is: bounded as that name is.
            const auto& name = hello.model->name;
            device.model =
                DeviceModel{.identifier = boundedText(hello.model->identifier, DeviceRegistry::maxNameBytes),
                            .name = name ? std::optional(boundedText(*name, DeviceRegistry::maxNameBytes))
                                         : std::nullopt};
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
            .deviceName = DeviceRegistry::keptName(hello.deviceName),
            .route = route_,
            .from = peer_,
            .forwardSecret = channel_->forwardSecret()};
}

void HostSession::notice(HostNotice notice) const {
    if (onNotice_) {
        onNotice_(std::move(notice));
    }
}

void HostSession::end(ConnectionRecord::Ending ending, std::optional<ByeReason> goodbye) {
    if (isEnded_) {
        return;
    }
    isEnded_ = true;
    const bool wasRunning = main_ && main_->isRunning();
    if (goodbye) {
        channel_->send(Message::bye(hello_ ? adapted(*hello_, *goodbye) : *goodbye));
    }
    helloTimer_.cancel();
    if (stage_) {
        stage_->stop();
    }
    queue_->postAfter(cancelDelay, [channel = channel_] { channel->cancel(); });
    if (wasRunning) {
        context_->curtain->sessionEnded(endsInOrder(ending));
    }
    if (record_) {
        context_->history->end(*record_, ending);
    }
    hostSessionLog.info("session ended: %s", std::string(rawValue(ending)).c_str());
    onAuthenticated_ = nullptr;
    onSnapshot_ = nullptr;
    if (const auto handler = std::exchange(onEnded_, nullptr)) {
        handler(Ended{.ending = ending,
                      .snapshot = wasRunning ? std::optional(main_->snapshot()) : std::nullopt});
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

} // namespace velm
