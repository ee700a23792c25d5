#pragma once

#include "platform/core/CaseValue.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "transport/channel/ControlChannel.h"
#include "transport/channel/Endpoint.h"
#include "transport/client/away/DoorClient.h"
#include "transport/client/away/RouteDialer.h"
#include "transport/keys/PreSharedKey.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velm {

struct EitherWayOutcomeCases {
    // The channel that became ready first, with what it was opened with.
    struct Connected {
        std::shared_ptr<ControlChannel> channel;
        Endpoint endpoint;
        PreSharedKey key;
        bool throughDoor = false;
        friend bool operator==(const Connected&, const Connected&) = default;
    };
    // The host answered the knock and refused, and the nearby route failed.
    struct Refused {
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    // The user declined the knock, and the nearby route failed.
    struct NotConsented {
        friend bool operator==(const NotConsented&, const NotConsented&) = default;
    };
    // Neither route got through.
    struct Unreachable {
        friend bool operator==(const Unreachable&, const Unreachable&) = default;
    };
};

class EitherWayOutcome
    : public EitherWayOutcomeCases,
      public CaseValue<EitherWayOutcomeCases::Connected, EitherWayOutcomeCases::Refused,
                       EitherWayOutcomeCases::NotConsented, EitherWayOutcomeCases::Unreachable> {
public:
    using CaseValue::CaseValue;
};

// The device's way into its host when it does not know whether it is at home: a race between the
// nearby route (a control channel straight to the host, keyed with the device's own key) and the away
// route (a knock on the host's door, then a channel through the router keyed with the session key of
// the reply). The nearby route gets a head start; the door is knocked after it, or as soon as the
// nearby route fails, and when the application asks for it only once the user agrees. The first
// channel to become ready wins and the other is closed. A failure of one route alone never ends the
// race while the other is still under way.
//
// One race per object. Everything runs on the caller's queue, where the completion is called exactly
// once, unless cancel() comes first. The race's work holds it weakly: once its owner lets go it stops as
// a cancel would, closing both routes and taking the question down.
class EitherWay : public std::enable_shared_from_this<EitherWay> {
public:
    using Outcome = EitherWayOutcome;
    using Completion = std::function<void(Outcome)>;

    enum class Consent { granted, denied, notNow };
    // May be called from any thread, once.
    using ConsentReply = std::function<void(Consent)>;
    // Takes the question down.
    using Withdraw = std::function<void()>;
    using AskConsent = std::function<Withdraw(ConsentReply reply)>;

    static constexpr std::chrono::milliseconds headStart{500};

    struct Target {
        // Where the host is nearby, usually its advertised service.
        Endpoint nearby;
        // The device's own key: the nearby channel's, and the one the knock proves.
        PreSharedKey key;
        // The host's public address.
        std::string address;
        // The door port of every window, when the host gave a fixed one.
        std::optional<std::uint16_t> doorPort;
    };

    struct Options {
        // Asks the user before knocking; without it the door is knocked unasked.
        AskConsent askConsent;
        // The network; real channels and knocks when absent. An advertised nearby endpoint needs a
        // NetworkRouteDialer whose channel options carry the discovery's resolver.
        std::shared_ptr<RouteDialer> dialer;
    };

    static std::shared_ptr<EitherWay> race(Target target, std::shared_ptr<Queue> queue, Completion completion,
                                           Options options = {});
    ~EitherWay();
    EitherWay(const EitherWay&) = delete;
    EitherWay& operator=(const EitherWay&) = delete;

    // On the queue: drops the completion unheard and closes both routes.
    void cancel();

private:
    EitherWay(Target target, std::shared_ptr<Queue> queue, Completion completion, Options options);

    void begin();
    void nearbyEvent(const ControlChannel::Event& event);
    void startDoorRoute();
    void consentGiven(Consent consent);
    void knock();
    void knocked(DoorClient::Outcome outcome);
    void doorEvent(const ControlChannel::Event& event);
    void doorFailed(Outcome failure);
    void finish(Outcome outcome);
    void settle(const std::shared_ptr<ControlChannel>& winner);

    const Target target_;
    const std::shared_ptr<Queue> queue_;
    const AskConsent askConsent_;
    const std::shared_ptr<RouteDialer> dialer_;

    // Touched on the queue only.
    Completion completion_;
    std::shared_ptr<ControlChannel> nearbyChannel_;
    bool nearbyFailed_ = false;
    WorkItem pendingKnock_;
    bool hasKnocked_ = false;
    bool isAsking_ = false;
    Withdraw withdrawQuestion_;
    RouteDialer::CallOff callOffKnock_;
    std::shared_ptr<ControlChannel> doorChannel_;
    std::optional<Endpoint> doorEndpoint_;
    std::optional<PreSharedKey> doorKey_;
    std::optional<Outcome> doorFailure_;
};

} // namespace velm
