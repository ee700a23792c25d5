#include "transport/client/away/EitherWay.h"

#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/client/away/NetworkRouteDialer.h"

#include <utility>

namespace velm {
namespace {

const Log awayLog("away");

const char* name(ControlChannel::CloseReason reason) {
    switch (reason) {
    case ControlChannel::CloseReason::authenticationFailed:
        return "authenticationFailed";
    case ControlChannel::CloseReason::unreachable:
        return "unreachable";
    case ControlChannel::CloseReason::lost:
        return "lost";
    case ControlChannel::CloseReason::cancelled:
        return "cancelled";
    }
    return "?";
}

} // namespace

std::shared_ptr<EitherWay> EitherWay::race(Target target, std::shared_ptr<Queue> queue, Completion completion,
                                           Options options) {
    if (!options.dialer) {
        options.dialer = std::make_shared<NetworkRouteDialer>();
    }
    std::shared_ptr<EitherWay> race(
        new EitherWay(std::move(target), std::move(queue), std::move(completion), std::move(options)));
    race->queue_->post(whileAlive(race, &EitherWay::begin));
    return race;
}

EitherWay::EitherWay(Target target, std::shared_ptr<Queue> queue, Completion completion, Options options)
    : target_(std::move(target)), queue_(std::move(queue)), askConsent_(std::move(options.askConsent)),
      dialer_(std::move(options.dialer)), completion_(std::move(completion)) {}

// Nothing runs on the race while it is destroyed (its work holds it only weakly), so the state can be
// settled here: an owner that lets go must not leave the user a question whose answer goes nowhere.
EitherWay::~EitherWay() {
    settle(nullptr);
}

void EitherWay::cancel() {
    queue_->post(whileAlive(shared_from_this(), [](EitherWay& self) {
        self.completion_ = nullptr;
        self.settle(nullptr);
    }));
}

void EitherWay::begin() {
    if (!completion_) {
        return;
    }
    nearbyChannel_ = dialer_->dial(target_.nearby, target_.key, queue_,
                                   whileAlive(shared_from_this(), &EitherWay::nearbyEvent));
    pendingKnock_ = queue_->postAfter(headStart, whileAlive(shared_from_this(), &EitherWay::startDoorRoute));
}

void EitherWay::nearbyEvent(const ControlChannel::Event& event) {
    // Once the race is over a winner belongs to the application, and its later close is no failed route.
    if (!completion_) {
        return;
    }
    if (event.get<ControlChannel::Event::Ready>()) {
        finish(Outcome::Connected{nearbyChannel_, target_.nearby, target_.key, false});
    } else if (const auto* closed = event.get<ControlChannel::Event::Closed>()) {
        awayLog.info("not nearby: %s", name(closed->reason));
        nearbyFailed_ = true;
        startDoorRoute();
        if (doorFailure_) {
            finish(*doorFailure_);
        }
    }
}

void EitherWay::startDoorRoute() {
    if (hasKnocked_ || !completion_) {
        return;
    }
    hasKnocked_ = true;
    pendingKnock_.cancel();
    if (!askConsent_) {
        knock();
        return;
    }
    isAsking_ = true;
    withdrawQuestion_ = askConsent_(onQueueWhileAlive(queue_, shared_from_this(), &EitherWay::consentGiven));
}

void EitherWay::consentGiven(Consent consent) {
    if (!completion_ || !isAsking_) {
        return;
    }
    isAsking_ = false;
    withdrawQuestion_ = nullptr;
    switch (consent) {
    case Consent::granted:
        knock();
        break;
    case Consent::denied:
        doorFailed(Outcome::NotConsented{});
        break;
    case Consent::notNow:
        doorFailed(Outcome::Unreachable{});
        break;
    }
}

void EitherWay::knock() {
    callOffKnock_ = dialer_->knock(target_.address, target_.key.key(), target_.doorPort, queue_,
                                   whileAlive(shared_from_this(), &EitherWay::knocked));
}

void EitherWay::knocked(DoorClient::Outcome outcome) {
    if (!completion_) {
        return;
    }
    if (const auto* admitted = std::get_if<DoorClient::Admitted>(&outcome)) {
        doorEndpoint_ = Endpoint::hostPort(admitted->host, admitted->controlPort);
        doorKey_ = PreSharedKey::forAway(admitted->sessionKey);
        doorChannel_ = dialer_->dial(*doorEndpoint_, *doorKey_, queue_,
                                     whileAlive(shared_from_this(), &EitherWay::doorEvent));
    } else if (std::holds_alternative<DoorClient::Refused>(outcome)) {
        doorFailed(Outcome::Refused{});
    } else {
        doorFailed(Outcome::Unreachable{});
    }
}

void EitherWay::doorEvent(const ControlChannel::Event& event) {
    if (!completion_) {
        return;
    }
    if (event.get<ControlChannel::Event::Ready>()) {
        finish(Outcome::Connected{doorChannel_, *doorEndpoint_, *doorKey_, true});
    } else if (event.get<ControlChannel::Event::Closed>()) {
        doorFailed(Outcome::Unreachable{});
    }
}

void EitherWay::doorFailed(Outcome failure) {
    doorFailure_ = std::move(failure);
    // The nearby route, while still under way, may yet win.
    if (nearbyFailed_) {
        finish(*doorFailure_);
    }
}

void EitherWay::finish(Outcome outcome) {
    if (!completion_) {
        return;
    }
    Completion completion = std::exchange(completion_, nullptr);
    const auto* connected = outcome.get<Outcome::Connected>();
    if (connected) {
        awayLog.info("the way in: %s", connected->throughDoor ? "its door" : "nearby");
    }
    settle(connected ? connected->channel : nullptr);
    completion(std::move(outcome));
}

void EitherWay::settle(const std::shared_ptr<ControlChannel>& winner) {
    pendingKnock_.cancel();
    isAsking_ = false;
    if (const Withdraw withdraw = std::exchange(withdrawQuestion_, nullptr)) {
        withdraw();
    }
    if (const RouteDialer::CallOff callOff = std::exchange(callOffKnock_, nullptr)) {
        callOff();
    }
    for (const auto& channel : {nearbyChannel_, doorChannel_}) {
        if (channel && channel != winner) {
            dialer_->hangUp(channel);
        }
    }
    nearbyChannel_.reset();
    doorChannel_.reset();
}

} // namespace velm
