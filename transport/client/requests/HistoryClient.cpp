#include "transport/client/requests/HistoryClient.h"

#include "transport/client/requests/DeviceRequest.h"

#include <utility>

namespace velm {

std::shared_ptr<HistoryClient> HistoryClient::make(Endpoint endpoint, std::string deviceID,
                                                   ByteView deviceKey, AwaySigner awaySigner,
                                                   Duration timeout, ControlChannel::Options options) {
    auto channel = DeviceRequest::channel(std::move(endpoint), deviceID, deviceKey, {}, std::move(options));
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
    : request_(std::move(channel)), deviceID_(std::move(deviceID)), deviceKey_(deviceKey),
      awaySigner_(std::move(awaySigner)), timeout_(timeout) {}

void HistoryClient::start(std::string deviceName, std::shared_ptr<Queue> queue, bool channelIsReady,
                          Completion completion) {
    queue_ = std::move(queue);
    deviceName_ = std::move(deviceName);
    request_.setCompletion(std::move(completion));
    queue_->post([self = shared_from_this(), channelIsReady] { self->begin(channelIsReady); });
}

void HistoryClient::begin(bool channelIsReady) {
    if (!request_.channel()) {
        request_.finish(Result::Unreachable{});
        return;
    }
    request_.listen(shared_from_this(), &HistoryClient::handle);
    request_.armTimeout(*queue_, timeout_, shared_from_this(), [this] { return unansweredOrUnreachable(); });
    if (channelIsReady) {
        ask();
    } else {
        request_.channel()->start(queue_);
    }
}

void HistoryClient::handle(const ControlChannel::Event& event) {
    if (event.get<ControlChannel::Event::Ready>()) {
        ask();
    } else if (const auto* control = event.get<ControlChannel::Event::Control>()) {
        if (const auto* history = control->message.get<ControlMessage::History>()) {
            request_.finish(Result::Records{history->records});
        } else if (const auto* bye = control->message.get<ControlMessage::Bye>()) {
            request_.finish(Result::Refused{bye->reason});
        }
    } else if (event.get<ControlChannel::Event::Closed>()) {
        request_.finish(unansweredOrUnreachable());
    }
}

void HistoryClient::ask() {
    if (asked_) {
        return;
    }
    asked_ = true;
    DeviceRequest::prepareHello(*request_.channel(), deviceID_, deviceName_, deviceKey_, awaySigner_, queue_,
                                request_.sender(shared_from_this(), ControlMessage::requestHistory));
}

HistoryClient::Result HistoryClient::unansweredOrUnreachable() const {
    if (asked_) {
        return Result::Unanswered{};
    }
    return Result::Unreachable{};
}

} // namespace velm
