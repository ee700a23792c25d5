#include "transport/requests/HistoryClient.h"

#include "transport/requests/DeviceRequest.h"

#include <utility>

namespace velm {

std::shared_ptr<HistoryClient> HistoryClient::make(Endpoint endpoint, std::string deviceID,
                                                   ByteView deviceKey, AwaySigner awaySigner,
                                                   Duration timeout) {
    auto channel = DeviceRequest::channel(std::move(endpoint), deviceID, deviceKey);
    return make(std::move(channel), std::move(deviceID), deviceKey, std::move(awaySigner), timeout);
}

std::shared_ptr<HistoryClient> HistoryClient::make(std::shared_ptr<ControlChannel> channel,
                                                   std::string deviceID, ByteView deviceKey,
                                                   AwaySigner awaySigner, Duration timeout) {
    return std::shared_ptr<HistoryClient>(new HistoryClient(std::move(channel), std::move(deviceID),
                                                            deviceKey, std::move(awaySigner), timeout));
}

HistoryClient::HistoryClient(std::shared_ptr<ControlChannel> channel, std::string deviceID,
                             ByteView deviceKey, AwaySigner awaySigner, Duration timeout)
    : channel_(std::move(channel)), deviceID_(std::move(deviceID)), deviceKey_(deviceKey),
      awaySigner_(std::move(awaySigner)), timeout_(timeout) {}

void HistoryClient::start(std::string deviceName, std::shared_ptr<Queue> queue, bool channelIsReady,
                          Completion completion) {
    queue_ = std::move(queue);
    deviceName_ = std::move(deviceName);
    completion_ = std::move(completion);
    queue_->post([self = shared_from_this(), channelIsReady] { self->begin(channelIsReady); });
}

void HistoryClient::begin(bool channelIsReady) {
    if (!channel_) {
        finish(Result::Unreachable{});
        return;
    }
    channel_->setOnEvent([weak = weak_from_this()](ControlChannel::Event event) {
        if (const auto self = weak.lock()) {
            self->handle(event);
        }
    });
    timer_ = queue_->postAfter(
        timeout_, [self = shared_from_this()] { self->finish(self->unansweredOrUnreachable()); });
    if (channelIsReady) {
        ask();
    } else {
        channel_->start(queue_);
    }
}

void HistoryClient::handle(const ControlChannel::Event& event) {
    if (finished_) {
        return;
    }
    if (event.get<ControlChannel::Event::Ready>()) {
        ask();
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* history = control->message.get<ControlMessage::History>()) {
            finish(Result::Records{history->records});
        } else if (const auto* bye = control->message.get<ControlMessage::Bye>()) {
            finish(Result::Refused{bye->reason});
        }
    } else if (event.get<ControlChannel::Event::Closed>()) {
        finish(unansweredOrUnreachable());
    }
}

void HistoryClient::ask() {
    if (asked_) {
        return;
    }
    asked_ = true;
    DeviceRequest::prepareHello(*channel_, deviceID_, deviceName_, deviceKey_, awaySigner_, queue_,
                                [weak = weak_from_this()](ClientHello hello) {
                                    const auto self = weak.lock();
                                    if (self && !self->finished_) {
                                        self->channel_->send(
                                            ControlMessage::requestHistory(std::move(hello)));
                                    }
                                });
}

HistoryClient::Result HistoryClient::unansweredOrUnreachable() const {
    if (asked_) {
        return Result::Unanswered{};
    }
    return Result::Unreachable{};
}

void HistoryClient::finish(Result result) {
    if (finished_) {
        return;
    }
    finished_ = true;
    timer_.cancel();
    if (channel_) {
        channel_->cancel();
    }
    auto completion = std::move(completion_);
    completion_ = nullptr;
    if (completion) {
        completion(std::move(result));
    }
}

} // namespace velm
