#include "transport/client/requests/GlimpseClient.h"

#include "transport/client/requests/DeviceRequest.h"

#include <utility>

namespace velm {

std::shared_ptr<GlimpseClient> GlimpseClient::make(Endpoint endpoint, std::string deviceID,
                                                   ByteView deviceKey, AwaySigner awaySigner,
                                                   ControlChannel::Options options) {
    auto channel = DeviceRequest::channel(std::move(endpoint), deviceID, deviceKey, {}, std::move(options));
    return std::shared_ptr<GlimpseClient>(
        new GlimpseClient(std::move(channel), std::move(deviceID), deviceKey, std::move(awaySigner)));
}

GlimpseClient::GlimpseClient(std::shared_ptr<ControlChannel> channel, std::string deviceID,
                             ByteView deviceKey, AwaySigner awaySigner)
    : request_(std::move(channel)), deviceID_(std::move(deviceID)), deviceKey_(deviceKey),
      awaySigner_(std::move(awaySigner)) {}

void GlimpseClient::start(std::string deviceName, std::shared_ptr<Queue> queue, Completion completion) {
    queue_ = std::move(queue);
    deviceName_ = std::move(deviceName);
    request_.setCompletion(std::move(completion));
    queue_->post([self = shared_from_this()] { self->begin(); });
}

void GlimpseClient::begin() {
    if (!request_.channel()) {
        request_.finish(std::nullopt);
        return;
    }
    request_.listen(shared_from_this(), &GlimpseClient::handle);
    request_.armTimeout(*queue_, timeout, shared_from_this(), [] { return std::optional<Bytes>(); });
    request_.channel()->start(queue_);
}

void GlimpseClient::handle(const ControlChannel::Event& event) {
    if (event.get<ControlChannel::Event::Ready>()) {
        DeviceRequest::prepareHello(*request_.channel(), deviceID_, deviceName_, deviceKey_, awaySigner_,
                                    queue_,
                                    request_.sender(shared_from_this(), ControlMessage::requestGlimpse));
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* glimpse = control->message.get<ControlMessage::Glimpse>()) {
            request_.finish(glimpse->jpeg);
        } else if (control->message.get<ControlMessage::Bye>()) {
            request_.finish(std::nullopt);
        }
    } else if (event.get<ControlChannel::Event::Closed>()) {
        request_.finish(std::nullopt);
    }
}

} // namespace velm
