#pragma once

#include "platform/discovery/ServiceAdvert.h"

#include <functional>
#include <string>
#include <utility>

namespace velm {

// Announces one service on the local network for as long as it is published. Reports arrive on
// the queue the publisher was made with; publish() and withdraw() may be called from any thread.
// Called on that queue, they also guarantee that no report of an earlier publication follows.
// Destroying the publisher withdraws the service.
class ServicePublisher {
public:
    class State {
    public:
        enum class Kind {
            registering, // handed to the mDNS daemon, not yet confirmed
            registered,  // on the network under name()
            unavailable, // no mDNS daemon reachable; published again as soon as one is
            failed,      // refused for good (message()); publish again to retry
        };

        static State registering() { return State(Kind::registering, {}, {}); }
        static State registered(std::string name) { return State(Kind::registered, std::move(name), {}); }
        static State unavailable(std::string message) {
            return State(Kind::unavailable, {}, std::move(message));
        }
        static State failed(std::string message) { return State(Kind::failed, {}, std::move(message)); }

        Kind kind() const { return kind_; }
        // The instance name actually in use; set only when registered.
        const std::string& name() const { return name_; }
        // Why the service is not on the network; set only when unavailable or failed.
        const std::string& message() const { return message_; }

        bool operator==(const State&) const = default;

    private:
        State(Kind kind, std::string name, std::string message)
            : kind_(kind), name_(std::move(name)), message_(std::move(message)) {}

        Kind kind_;
        std::string name_;
        std::string message_;
    };

    using StateHandler = std::function<void(const State&)>;

    virtual ~ServicePublisher() = default;

    // Receives the states of the current publication, on the publisher's queue; set before publish().
    virtual void setOnState(StateHandler handler) = 0;
    // Publishes `advert` in place of whatever this publisher announced before; its states are
    // reported until the next publish() or withdraw().
    virtual void publish(ServiceAdvert advert) = 0;
    // Takes the service off the network. Reports nothing.
    virtual void withdraw() = 0;
};

} // namespace velm
