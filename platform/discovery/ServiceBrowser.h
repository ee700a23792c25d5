#pragma once

#include "platform/discovery/ServiceInstance.h"
#include "platform/discovery/TxtRecord.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velm {

// Finds the instances of one service type on the local network and reads each one's TXT record.
// Reports arrive on the queue the browser was made with; start() and stop() may be called from
// any thread. Called on that queue, they also guarantee that no report of an earlier start follows.
// Destroying the browser stops it.
class ServiceBrowser {
public:
    struct Result {
        ServiceInstance instance;
        // Absent when the record could not be read; the instance is listed all the same.
        std::optional<TxtRecord> txt;

        bool operator==(const Result&) const = default;
    };

    class State {
    public:
        enum class Kind {
            browsing, // looking; results follow as instances appear and disappear
            waiting,  // no mDNS daemon reachable; browsing resumes by itself when one is
            failed,   // browsing broke off (message()); start again to retry
        };

        static State browsing() { return State(Kind::browsing, {}); }
        static State waiting(std::string message) { return State(Kind::waiting, std::move(message)); }
        static State failed(std::string message) { return State(Kind::failed, std::move(message)); }

        Kind kind() const { return kind_; }
        const std::string& message() const { return message_; }

        bool operator==(const State&) const = default;

    private:
        State(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

        Kind kind_;
        std::string message_;
    };

    // At most this many instances are followed at once; more on one network is taken as a flood.
    static constexpr std::size_t maxInstances = 256;

    using StateHandler = std::function<void(const State&)>;
    // The full current list, in the order the instances appeared, after every change: an instance
    // appears (once its TXT record is read, or could not be), its record changes, or it leaves.
    using ResultsHandler = std::function<void(const std::vector<Result>&)>;

    virtual ~ServiceBrowser() = default;

    // Receive the reports of the current browsing, on the browser's queue; set before start().
    virtual void setOnState(StateHandler handler) = 0;
    virtual void setOnResults(ResultsHandler handler) = 0;
    // Browses for `type` ("_velm._tcp") in the default domain, replacing any earlier browsing.
    virtual void start(std::string type) = 0;
    // Stops browsing. Reports nothing.
    virtual void stop() = 0;
};

} // namespace velm
