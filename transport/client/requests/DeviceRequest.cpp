#include "transport/client/requests/DeviceRequest.h"

#include "platform/log/Log.h"
#include "transport/channel/ControlChannel.h"

#include <utility>

namespace velm {
namespace {

const Log clientLog("client");

} // namespace

std::shared_ptr<ControlChannel> DeviceRequest::channel(Endpoint endpoint, const std::string& deviceID,
                                                       ByteView deviceKey, std::optional<PreSharedKey> key,
                                                       ControlChannel::Options options) {
    if (!key) {
        key = PreSharedKey::forDevice(deviceID, deviceKey);
    }
    if (!key) {
        const auto reason = PreSharedKey::describe(*PreSharedKey::identityError(deviceID));
        clientLog.error("device identifier cannot be a connection identity: %.*s",
                        static_cast<int>(reason.size()), reason.data());
        return nullptr;
    }
    return ControlChannel::outgoing(std::move(endpoint), std::move(*key), std::move(options));
}

void DeviceRequest::prepareHello(const ControlChannel& channel, const std::string& deviceID,
                                 const std::string& deviceName, ByteView deviceKey, const AwaySigner& signer,
                                 std::shared_ptr<Queue> queue, std::function<void(ClientHello)> send) {
    const auto message = channel.hello(deviceID, deviceName, 0, 0, 0, deviceKey);
    signAwayInBackground(message.get<ControlMessage::Hello>()->hello, channel.sessionBinding(), signer,
                         std::move(queue), std::move(send));
}

} // namespace velm
