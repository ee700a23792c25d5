#pragma once

#include "platform/core/Bytes.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/keys/AwaySigning.h"
#include "transport/client/requests/OneShot.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

// Fetches one still image of the host's main display without starting a stream, on a control
// connection of its own made with the device's key: says hello with its proof (and its away
// signature when it has a signer), asks once, and reports exactly one result: the image bytes as
// the host sent them, or nothing on any failure (a goodbye, a close, the time-out, no image).
//
// Everything runs on the queue given to start. The pending time-out holds the client, so it
// lives until its completion has been called.
class GlimpseClient : public std::enable_shared_from_this<GlimpseClient> {
public:
    using Completion = std::function<void(std::optional<Bytes> image)>;

    static constexpr std::chrono::milliseconds timeout{8'000};

    static std::shared_ptr<GlimpseClient> make(Endpoint endpoint, std::string deviceID, ByteView deviceKey,
                                               AwaySigner awaySigner = {},
                                               ControlChannel::Options options = {});

    GlimpseClient(const GlimpseClient&) = delete;
    GlimpseClient& operator=(const GlimpseClient&) = delete;

    // Call once.
    void start(std::string deviceName, std::shared_ptr<Queue> queue, Completion completion);

private:
    GlimpseClient(std::shared_ptr<ControlChannel> channel, std::string deviceID, ByteView deviceKey,
                  AwaySigner awaySigner);

    void begin();
    void handle(const ControlChannel::Event& event);

    // Its channel is absent when the device identifier cannot be a TLS identity: such a client
    // fails at once.
    OneShot<std::optional<Bytes>> request_;
    const std::string deviceID_;
    const SecretBytes deviceKey_;
    const AwaySigner awaySigner_;

    // Set by start, then touched on the queue only.
    std::shared_ptr<Queue> queue_;
    std::string deviceName_;
};

} // namespace velm
