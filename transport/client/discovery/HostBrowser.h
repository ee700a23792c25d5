#pragma once

#include "platform/discovery/ServiceBrowser.h"
#include "platform/dispatch/GuardedCallback.h"
#include "platform/dispatch/Queue.h"
#include "protocol/client/SessionState.h"
#include "transport/client/discovery/DiscoveredHost.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace velm {

class Discovery;

// The client's search for hosts on the local network: browses for "_velm._tcp", turns each
// instance and its TXT record into a DiscoveredHost and reports the host list and whether it can
// browse (offline or discovering).
//
// start() and stop() may be called from any thread and take effect on the browser's queue; called
// on that queue they act at once. Every report is made on the queue. Once stop() has acted, or the
// browser is gone, nothing more is reported.
class HostBrowser : public std::enable_shared_from_this<HostBrowser> {
public:
    using Clock = Queue::Clock;
    using HostsHandler = std::function<void(const std::vector<DiscoveredHost>&)>;
    using StateHandler = std::function<void(const SessionState&)>;

    struct Timing {
        // A client that finds nothing is told so once, this long after browsing began.
        Clock::duration emptyListDelay = std::chrono::seconds(2);
        // Browsing that failed starts again after this pause.
        Clock::duration restartDelay = std::chrono::seconds(1);
    };

    static std::shared_ptr<HostBrowser> make(std::shared_ptr<Queue> queue,
                                             std::shared_ptr<Discovery> discovery, Timing timing);
    static std::shared_ptr<HostBrowser> make(std::shared_ptr<Queue> queue,
                                             std::shared_ptr<Discovery> discovery) {
        return make(std::move(queue), std::move(discovery), Timing{});
    }

    HostBrowser(const HostBrowser&) = delete;
    HostBrowser& operator=(const HostBrowser&) = delete;

    // Settable at any time; the handler in place when a report is made is the one called.
    // Hosts come sorted by name, one per host identifier.
    void setOnHosts(HostsHandler handler);
    // Receives offline and discovering.
    void setOnState(StateHandler handler);

    // Starts browsing afresh, replacing any browsing under way.
    void start();
    // Stops browsing. Reports nothing.
    void stop();

    // The hosts in a browser's results: instances of one identifier after the first are left out,
    // the rest sorted by name (by Unicode scalar values of the composed text).
    static std::vector<DiscoveredHost> hostsFrom(const std::vector<ServiceBrowser::Result>& results);

private:
    HostBrowser(std::shared_ptr<Queue> queue, std::shared_ptr<Discovery> discovery, Timing timing);

    // Runs `step` on the queue while the browser is alive: at once when already there.
    template <class Step> void onQueue(Step step);

    void begin();
    void end();
    void handleState(std::uint64_t generation, const ServiceBrowser::State& state);
    void handleResults(std::uint64_t generation, const std::vector<ServiceBrowser::Result>& results);
    void report(const SessionState& state);
    void report(const std::vector<DiscoveredHost>& hosts);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<Discovery> discovery_;
    const Timing timing_;

    GuardedCallback<HostsHandler> onHosts_;
    GuardedCallback<StateHandler> onState_;

    // Touched on the queue only.
    std::unique_ptr<ServiceBrowser> browser_;
    std::uint64_t generation_ = 0;
    bool hasReported_ = false;
};

} // namespace velm
