#include "transport/client/requests/PairingClient.h"

#include "platform/log/Log.h"

#include <utility>

namespace velm {
namespace {

const Log pairingLog("pairing");

} // namespace

std::shared_ptr<PairingClient> PairingClient::make(Endpoint endpoint, std::string_view code,
                                                   ControlChannel::Options options) {
    return std::shared_ptr<PairingClient>(
        new PairingClient(ControlChannel::outgoing(std::move(endpoint), code, std::move(options))));
}

PairingClient::PairingClient(std::shared_ptr<ControlChannel> channel) : request_(std::move(channel)) {}

void PairingClient::start(std::string deviceID, std::string deviceName, std::shared_ptr<Queue> queue,
                          Completion completion) {
    queue_ = std::move(queue);
    deviceID_ = std::move(deviceID);
    deviceName_ = std::move(deviceName);
    request_.setCompletion(std::move(completion));
    queue_->post([self = shared_from_this()] { self->begin(); });
}

void PairingClient::begin() {
    request_.listen(shared_from_this(), &PairingClient::handle);
    request_.armTimeout(*queue_, timeout, shared_from_this(), [] { return Outcome(Outcome::Unreachable{}); });
    request_.channel()->start(queue_);
}

void PairingClient::handle(const ControlChannel::Event& event) {
    if (event.get<ControlChannel::Event::Ready>()) {
        request_.channel()->send(ControlMessage::pairRequest(PairRequest{
            deviceID_, deviceName_, Bytes(offer_.publicKey().begin(), offer_.publicKey().end())}));
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* response = control->message.get<ControlMessage::PairResponse>()) {
            openResponse(response->response);
        } else if (control->message.get<ControlMessage::Bye>()) {
            request_.finish(Outcome::CodeRejected{});
        }
    } else if (const auto* closed = event.get<ControlChannel::Event::Closed>()) {
        switch (closed->reason) {
        case ControlChannel::CloseReason::authenticationFailed:
            request_.finish(Outcome::CodeRejected{});
            break;
        case ControlChannel::CloseReason::unreachable:
            request_.finish(Outcome::Unreachable{});
            break;
        case ControlChannel::CloseReason::lost:
        case ControlChannel::CloseReason::cancelled:
            request_.finish(Outcome::Failed{});
            break;
        }
    }
}

void PairingClient::openResponse(const PairResponse& response) {
    const auto binding = request_.channel()->sessionBinding();
    if (!binding) {
        pairingLog.error("pairing response on a connection without a session binding");
        request_.finish(Outcome::Failed{});
        return;
    }
    auto opened = Pairing::openKey(response.sealedKey, response.publicKey, offer_, *binding);
    if (const auto* failure = std::get_if<Pairing::Failure>(&opened)) {
        const auto reason = Pairing::describe(*failure);
        pairingLog.error("cannot open the device key: %.*s", static_cast<int>(reason.size()), reason.data());
        request_.finish(Outcome::Failed{});
        return;
    }
    request_.finish(Outcome::Paired{std::move(std::get<SecretBytes>(opened)), response.hostID});
}

} // namespace velm
