#include "transport/requests/GlimpseClient.h"

#include "transport/requests/DeviceRequest.h"

#include <utility>

namespace velm {

std::shared_ptr<GlimpseClient> GlimpseClient::make(Endpoint endpoint, std::string deviceID,
                                                   ByteView deviceKey, AwaySigner awaySigner) {
    auto channel = DeviceRequest::channel(std::move(endpoint), deviceID, deviceKey);
    return std::shared_ptr<GlimpseClient>(
        new GlimpseClient(std::move(channel), std::move(deviceID), deviceKey, std::move(awaySigner)));
}

GlimpseClient::GlimpseClient(std::shared_ptr<ControlChannel> channel, std::string deviceID,
                             ByteView deviceKey, AwaySigner awaySigner)
    : channel_(std::move(channel)), deviceID_(std::move(deviceID)), deviceKey_(deviceKey),
      awaySigner_(std::move(awaySigner)) {}

void GlimpseClient::start(std::string deviceName, std::shared_ptr<Queue> queue, Completion completion) {
    queue_ = std::move(queue);
    deviceName_ = std::move(deviceName);
    completion_ = std::move(completion);
    queue_->post([self = shared_from_this()] { self->begin(); });
}

void GlimpseClient::begin() {
    if (!channel_) {
        finish(std::nullopt);
        return;
    }
    channel_->setOnEvent([weak = weak_from_this()](ControlChannel::Event event) {
        if (const auto self = weak.lock()) {
            self->handle(event);
        }
    });
    timeout_ = queue_->postAfter(timeout, [self = shared_from_this()] { self->finish(std::nullopt); });
    channel_->start(queue_);
}

void GlimpseClient::handle(const ControlChannel::Event& event) {
    if (finished_) {
        return;
    }
    if (event.get<ControlChannel::Event::Ready>()) {
        ask();
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* glimpse = control->message.get<ControlMessage::Glimpse>()) {
            finish(glimpse->jpeg);
        } else if (control->message.get<ControlMessage::Bye>()) {
            finish(std::nullopt);
        }
    } else if (event.get<ControlChannel::Event::Closed>()) {
        finish(std::nullopt);
    }
}

void GlimpseClient::ask() {
    DeviceRequest::prepareHello(*channel_, deviceID_, deviceName_, deviceKey_, awaySigner_, queue_,
                                [weak = weak_from_this()](ClientHello hello) {
                                    const auto self = weak.lock();
                                    if (self && !self->finished_) {
                                        self->channel_->send(
                                            ControlMessage::requestGlimpse(std::move(hello)));
                                    }
                                });
}

void GlimpseClient::finish(std::optional<Bytes> image) {
    if (finished_) {
        return;
    }
    finished_ = true;
    timeout_.cancel();
    if (channel_) {
        channel_->cancel();
    }
    auto completion = std::move(completion_);
    completion_ = nullptr;
    if (completion) {
        completion(std::move(image));
    }
}

} // namespace velm
