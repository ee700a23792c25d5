#pragma once

#include "platform/core/CaseValue.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "protocol/PairResponse.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/requests/OneShot.h"
#include "transport/keys/Pairing.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velm {

struct PairingOutcomeCases {
    // The device key the host made for this device, and the host's identifier.
    struct Paired {
        SecretBytes deviceKey;
        std::string hostID;
        friend bool operator==(const Paired&, const Paired&) = default;
    };
    // The host refused the code: the handshake failed, or it said goodbye.
    struct CodeRejected {
        friend bool operator==(const CodeRejected&, const CodeRejected&) = default;
    };
    // No host answered in time.
    struct Unreachable {
        friend bool operator==(const Unreachable&, const Unreachable&) = default;
    };
    // The connection broke, or the answer could not be opened.
    struct Failed {
        friend bool operator==(const Failed&, const Failed&) = default;
    };
};

class PairingOutcome : public PairingOutcomeCases,
                       public CaseValue<PairingOutcomeCases::Paired, PairingOutcomeCases::CodeRejected,
                                        PairingOutcomeCases::Unreachable, PairingOutcomeCases::Failed> {
public:
    using CaseValue::CaseValue;
};

// The device's side of pairing: opens a control connection keyed by the six-digit code the host
// shows, sends a pairing request with a fresh key-agreement offer (and no hello), opens the device
// key sealed in the host's answer and reports exactly one outcome.
//
// Everything runs on the queue given to start: channel events, the time-out and the completion.
// The pending time-out holds the client, so it lives until its completion has been called.
class PairingClient : public std::enable_shared_from_this<PairingClient> {
public:
    using Outcome = PairingOutcome;
    using Completion = std::function<void(Outcome)>;

    // No answer within this time is `unreachable`, whatever the state of the connection.
    static constexpr std::chrono::milliseconds timeout{12'000};

    // Makes the offer and the channel; nothing is sent yet.
    static std::shared_ptr<PairingClient> make(Endpoint endpoint, std::string_view code,
                                               ControlChannel::Options options = {});

    PairingClient(const PairingClient&) = delete;
    PairingClient& operator=(const PairingClient&) = delete;

    // Call once.
    void start(std::string deviceID, std::string deviceName, std::shared_ptr<Queue> queue,
               Completion completion);

private:
    explicit PairingClient(std::shared_ptr<ControlChannel> channel);

    void begin();
    void handle(const ControlChannel::Event& event);
    void openResponse(const PairResponse& response);

    OneShot<Outcome> request_;
    const Pairing::Offer offer_;

    // Set by start, then touched on the queue only.
    std::shared_ptr<Queue> queue_;
    std::string deviceID_;
    std::string deviceName_;
};

} // namespace velm
