#include "transport/requests/PairingClient.h"

#include "platform/log/Log.h"

#include <utility>

namespace velm {
namespace {

const Log pairingLog("pairing");

} // namespace

std::shared_ptr<PairingClient> PairingClient::make(Endpoint endpoint, std::string_view code) {
    return std::shared_ptr<PairingClient>(
        new PairingClient(ControlChannel::outgoing(std::move(endpoint), code)));
}

PairingClient::PairingClient(std::shared_ptr<ControlChannel> channel) : channel_(std::move(channel)) {}

void PairingClient::start(std::string deviceID, std::string deviceName, std::shared_ptr<Queue> queue,
                          Completion completion) {
    queue_ = std::move(queue);
    deviceID_ = std::move(deviceID);
    deviceName_ = std::move(deviceName);
    completion_ = std::move(completion);
    queue_->post([self = shared_from_this()] { self->begin(); });
}

void PairingClient::begin() {
    channel_->setOnEvent([weak = weak_from_this()](ControlChannel::Event event) {
        if (const auto self = weak.lock()) {
            self->handle(event);
        }
    });
    timeout_ =
        queue_->postAfter(timeout, [self = shared_from_this()] { self->finish(Outcome::Unreachable{}); });
    channel_->start(queue_);
}

void PairingClient::handle(const ControlChannel::Event& event) {
    if (finished_) {
        return;
    }
    if (event.get<ControlChannel::Event::Ready>()) {
        channel_->send(ControlMessage::pairRequest(PairRequest{
            deviceID_, deviceName_, Bytes(offer_.publicKey().begin(), offer_.publicKey().end())}));
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* response = control->message.get<ControlMessage::PairResponse>()) {
            openResponse(response->response);
        } else if (control->message.get<ControlMessage::Bye>()) {
            finish(Outcome::CodeRejected{});
        }
    } else if (const auto* closed = event.get<ControlChannel::Event::Closed>()) {
        switch (closed->reason) {
        case ControlChannel::CloseReason::authenticationFailed:
            finish(Outcome::CodeRejected{});
            break;
        case ControlChannel::CloseReason::unreachable:
            finish(Outcome::Unreachable{});
            break;
        case ControlChannel::CloseReason::lost:
        case ControlChannel::CloseReason::cancelled:
            finish(Outcome::Failed{});
            break;
        }
    }
}

void PairingClient::openResponse(const PairResponse& response) {
    const auto binding = channel_->sessionBinding();
    if (!binding) {
        pairingLog.error("pairing response on a connection without a session binding");
        finish(Outcome::Failed{});
        return;
    }
    auto opened = Pairing::openKey(response.sealedKey, response.publicKey, offer_, *binding);
    if (const auto* failure = std::get_if<Pairing::Failure>(&opened)) {
        const auto reason = Pairing::describe(*failure);
        pairingLog.error("cannot open the device key: %.*s", static_cast<int>(reason.size()), reason.data());
        finish(Outcome::Failed{});
        return;
    }
    finish(Outcome::Paired{std::move(std::get<SecretBytes>(opened)), response.hostID});
}

void PairingClient::finish(Outcome outcome) {
    if (finished_) {
        return;
    }
    finished_ = true;
    timeout_.cancel();
    channel_->cancel();
    auto completion = std::move(completion_);
    completion_ = nullptr;
    if (completion) {
        completion(std::move(outcome));
    }
}

} // namespace velm
