#include "Velm_Host/session/OneShotAnswer.h"

#include "Velm_Host/core/BoundedText.h"
#include "Velm_Host/core/DeviceRegistry.h"
#include "Velm_Host/session/GlimpseFit.h"
#include "Velm_Host/session/HostSession.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WhileAlive.h"

#include <utility>

namespace velm {

using Ending = ConnectionRecord::Ending;
using Message = ControlMessage;

std::shared_ptr<OneShotAnswer> OneShotAnswer::make(Setup setup) {
    return std::shared_ptr<OneShotAnswer>(new OneShotAnswer(std::move(setup)));
}

void OneShotAnswer::pair(const PairRequest& request) {
    const auto& channel = *setup_.channel;
    const auto binding = channel.sessionBinding();
    const auto result =
        binding ? setup_.context->registry->pair(request, *binding, channel.pskIdentity().value_or(""),
                                                 channel.lentKeyTag())
                : std::variant<PairResponse, DeviceRegistry::PairFailure>(
                      DeviceRegistry::PairFailure::noSessionBinding);
    if (const auto* response = std::get_if<PairResponse>(&result)) {
        sendAnswer(Message::pairResponse(*response));
        setup_.notice(HostNotice::DevicePaired{DeviceRegistry::keptName(request.deviceName)});
    } else {
        setup_.end(Ending::endedHere, ByeReason::notPaired);
    }
}

void OneShotAnswer::sendHistory() {
    sendAnswer(Message::history(setup_.context->history->log().records));
}

void OneShotAnswer::sendGlimpse() {
    // A picture now would show the shields, not the desktop.
    if (setup_.context->curtain->coversScreens()) {
        sendAnswer(Message::glimpse(std::nullopt));
        return;
    }
    startDesktop().glimpse(GlimpseFit::maxJpegBytes(),
                           whileAlive(shared_from_this(), [](OneShotAnswer& self, std::optional<Bytes> jpeg) {
                               if (!self.isStopped_) {
                                   self.sendAnswer(Message::glimpse(GlimpseFit::fitted(std::move(jpeg))));
                               }
                           }));
}

void OneShotAnswer::transferFile(const FileTransferRequest& request) {
    setup_.beginRecord(ConnectionRecord::Kind::file);
    startDesktop();
    fileTransfer_ =
        SessionFileTransfer::make(setup_.channel, setup_.queue, setup_.context->downloadFolder, desktop_);
    fileTransfer_->setOnFinished(whileAlive(shared_from_this(), &OneShotAnswer::fileFinished));
    fileTransfer_->start(request);
}

void OneShotAnswer::fileFinished(SessionFileTransfer::Outcome outcome) {
    switch (outcome) {
    case SessionFileTransfer::Outcome::completed:
        if (const auto& stored = fileTransfer_->stored()) {
            setup_.notice(HostNotice::FileReceived{.name = stored->file.filename().string(),
                                                   .size = stored->size,
                                                   .folder = stored->file.parent_path()});
        }
        if (isChannelClosed_) {
            setup_.end(Ending::disconnected, std::nullopt);
        } else {
            answered();
        }
        break;
    case SessionFileTransfer::Outcome::refused:
        setup_.end(Ending::endedHere, std::nullopt);
        break;
    case SessionFileTransfer::Outcome::failed:
        setup_.end(Ending::connectionLost, std::nullopt);
        break;
    }
}

// Past its opening the client has nothing to say to a one-shot answer but an upload's data.
void OneShotAnswer::receive(const ControlChannel::Event& event) {
    using Event = ControlChannel::Event;
    if (isStopped_) {
        return;
    }
    if (const auto* control = event.get<Event::Control>()) {
        setup_.sessionTakes(control->message);
    } else if (const auto* file = event.get<Event::File>(); file && fileTransfer_) {
        fileTransfer_->receive(file->data);
    } else if (event.get<Event::Closed>()) {
        channelClosed();
    }
}

// A download handed over before the close still reports how it went.
void OneShotAnswer::channelClosed() {
    isChannelClosed_ = true;
    if (!(fileTransfer_ && fileTransfer_->isSending())) {
        setup_.end(isAnswered_ ? Ending::disconnected : Ending::connectionLost, std::nullopt);
    }
}

void OneShotAnswer::stop() {
    isStopped_ = true;
    answeredTimer_.cancel();
    if (fileTransfer_) {
        fileTransfer_->cancel();
    }
    if (desktop_) {
        desktop_->stop();
    }
}

// The grace runs from when the answer has been handed to the network, not from when it was queued: a
// large answer (a full history, a glimpse) over a slow uplink takes longer than the grace to leave, and
// the end would cut it short.
void OneShotAnswer::sendAnswer(const ControlMessage& message) {
    isAnswered_ = true;
    setup_.channel->send(message, whileAlive(shared_from_this(), [](OneShotAnswer& self, bool) {
                             if (!self.isStopped_) {
                                 self.answered();
                             }
                         }));
}

// The client closes once it has its answer; one that lingers is let go shortly after.
void OneShotAnswer::answered() {
    isAnswered_ = true;
    answeredTimer_ = setup_.queue->postAfter(HostSession::answeredGrace,
                                             whileAlive(shared_from_this(), [](OneShotAnswer& self) {
                                                 self.setup_.end(Ending::disconnected, std::nullopt);
                                             }));
}

// The desktop is made only for an answer that shows it, and only once its client is admitted.
SessionDesktop& OneShotAnswer::startDesktop() {
    desktop_ = setup_.context->makeDesktop();
    desktop_->start(setup_.queue);
    return *desktop_;
}

} // namespace velm
