#pragma once

#include "platform/core/Bytes.h"
#include "platform/dispatch/Queue.h"
#include "protocol/ClientHello.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/keys/AwaySigning.h"
#include "transport/keys/PreSharedKey.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// What the client's one-shot requests on a paired device's behalf (history, glimpse, file
// transfer) share: a connection of their own keyed by the device, and the hello they carry.
class DeviceRequest {
public:
    DeviceRequest() = delete;

    // An outgoing channel presenting `key`, or else the device's own key (its identifier and device
    // key). Nothing when the identifier cannot serve as a TLS identity.
    static std::shared_ptr<ControlChannel> channel(Endpoint endpoint, const std::string& deviceID,
                                                   ByteView deviceKey, std::optional<PreSharedKey> key = {},
                                                   ControlChannel::Options options = {});

    // Builds the request's hello on `channel` (the identifier and name, no screen, the proof of the
    // device key bound to this TLS session, understandsPolicy) and hands it to `send`: at once on the
    // calling thread, or, when the session has a binding and there is a signer, on `queue` once the
    // away signature was made on the background queue. The caller checks in `send` that it still
    // wants to ask.
    static void prepareHello(const ControlChannel& channel, const std::string& deviceID,
                             const std::string& deviceName, ByteView deviceKey, const AwaySigner& signer,
                             std::shared_ptr<Queue> queue, std::function<void(ClientHello)> send);
};

} // namespace velm
