#pragma once

#include "platform/core/CaseValue.h"
#include "platform/crypto/SecretBytes.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "protocol/ByeReason.h"
#include "protocol/ConnectionRecord.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/keys/AwaySigning.h"
#include "transport/client/requests/OneShot.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velm {

struct HistoryResultCases {
    // The host's connection history.
    struct Records {
        std::vector<ConnectionRecord> records;
        friend bool operator==(const Records&, const Records&) = default;
    };
    // The host said goodbye with this reason.
    struct Refused {
        ByeReason reason;
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    // The request was sent but no history came.
    struct Unanswered {
        friend bool operator==(const Unanswered&, const Unanswered&) = default;
    };
    // The request was never sent.
    struct Unreachable {
        friend bool operator==(const Unreachable&, const Unreachable&) = default;
    };
};

class HistoryResult : public HistoryResultCases,
                      public CaseValue<HistoryResultCases::Records, HistoryResultCases::Refused,
                                       HistoryResultCases::Unanswered, HistoryResultCases::Unreachable> {
public:
    using CaseValue::CaseValue;
};

// Fetches the host's connection history once, on a control connection of its own made with the
// device's key or on one the caller already has: says hello with its proof (and its away signature
// when it has a signer), asks, and reports exactly one result. The request counts as sent from the
// moment it is built, before any signing, so a close or time-out during signing is `unanswered`.
//
// Everything runs on the queue given to start. The pending time-out holds the client, so it
// lives until its completion has been called.
class HistoryClient : public std::enable_shared_from_this<HistoryClient> {
public:
    using Result = HistoryResult;
    using Completion = std::function<void(Result)>;
    using Duration = Queue::Clock::duration;

    static std::shared_ptr<HistoryClient> make(Endpoint endpoint, std::string deviceID, ByteView deviceKey,
                                               AwaySigner awaySigner, Duration timeout,
                                               ControlChannel::Options options = {});
    // Over a channel the caller made; when it is already started, it must run on the queue that
    // will be given to start.
    static std::shared_ptr<HistoryClient> make(std::shared_ptr<ControlChannel> channel, std::string deviceID,
                                               ByteView deviceKey, AwaySigner awaySigner, Duration timeout);

    HistoryClient(const HistoryClient&) = delete;
    HistoryClient& operator=(const HistoryClient&) = delete;

    // Call once. With channelIsReady the client asks at once and does not start the channel.
    void start(std::string deviceName, std::shared_ptr<Queue> queue, bool channelIsReady,
               Completion completion);

private:
    HistoryClient(std::shared_ptr<ControlChannel> channel, std::string deviceID, ByteView deviceKey,
                  AwaySigner awaySigner, Duration timeout);

    void begin(bool channelIsReady);
    void handle(const ControlChannel::Event& event);
    void ask();
    Result unansweredOrUnreachable() const;

    // Its channel is absent when the device identifier cannot be a TLS identity: such a client
    // fails at once.
    OneShot<Result> request_;
    const std::string deviceID_;
    const SecretBytes deviceKey_;
    const AwaySigner awaySigner_;
    const Duration timeout_;

    // Set by start, then touched on the queue only.
    std::shared_ptr<Queue> queue_;
    std::string deviceName_;
    bool asked_ = false;
};

} // namespace velm
