#pragma once

#include "Velm_Host/away/AwayDevices.h"
#include "Velm_Host/away/AwayDoorEntry.h"
#include "Velm_Host/away/AwayDoors.h"
#include "Velm_Host/away/AwayRouter.h"
#include "Velm_Host/away/AwaySessionEntry.h"
#include "Velm_Host/away/AwaySessions.h"
#include "Velm_Host/away/AwayStatus.h"
#include "Velm_Host/away/AwayTicket.h"
#include "Velm_Host/away/HostAwayAccess.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/WorkItem.h"
#include "platform/store/DefaultsStore.h"
#include "transport/away/router/PortMapper.h"
#include "transport/away/router/RouterClient.h"
#include "transport/channel/ControlChannel.h"
#include "transport/discovery/HostListener.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Lets paired devices reach this computer from outside the home network. For every device whose
// away access is active it keeps door ports open and mapped on the router, admits knocks on them,
// opens a session listener per admitted knock and hands the channels that arrive there to the
// host model with a ticket; it keeps the router's mappings of running sessions alive and reports
// its condition as a Status.
//
// Upkeep runs in passes: one when switched on, then one 30 s after each pass ends, plus one asked
// for by each setEnabled while on and by each door that starts listening (asked for during a pass,
// exactly one more follows it). Every switch on or off, and every stop, starts a new generation: a
// pass or tick of an older one goes no further than its next wait, and an older stop removes what
// it closed but reports nothing, so switching off and on quickly never leaves an old ticker running
// or lets an old stop close or report over the new state. Mappings are remembered in the settings
// until removed: what an earlier run left on the router is removed before the first pass, and what
// a stop's closing could not reach is removed at its end from the router that answers then.
//
// Every operation may be called from any thread; the work runs on the service's queue
// ("velm.host.away"), and the handlers and completions are called there: the host model hops to
// its own queue itself. Completions are not called once the service is gone.
class AwayAccess final : public HostAwayAccess, public std::enable_shared_from_this<AwayAccess> {
public:
    using DoorEntry = AwayDoorEntry;
    using Entry = AwaySessionEntry;

    static constexpr std::string_view queueLabel = "velm.host.away";
    static constexpr std::chrono::seconds passInterval{30};
    // How long a router's external address is used before it is asked for again.
    static constexpr double addressReuseSeconds = 300;
    static constexpr double sessionRenewalSeconds = 300;
    // Longer text from the router is cut before it is shown.
    static constexpr std::size_t maxAddressBytes = 64;
    // What a router without an external address of its own answers.
    static constexpr std::string_view unknownAddress = "0.0.0.0";

    struct Options {
        // A new serial queue labelled queueLabel when none is given.
        std::shared_ptr<Queue> queue;
        // The real network when none is given.
        std::shared_ptr<RouterClient> router;
        PortMapper::Timing routerTiming;
        // The wall clock; tests tie it to a ManualQueue.
        std::function<Date()> now = Date::now;
        // For the session listeners.
        HostListener::Options listener;
    };

    // `settings` keeps the router mappings between runs; what an earlier run left there is
    // removed from the router at once.
    static std::shared_ptr<AwayAccess> make(std::string hostID, std::shared_ptr<DefaultsStore> settings,
                                            Options options);
    static std::shared_ptr<AwayAccess> make(std::string hostID, std::shared_ptr<DefaultsStore> settings) {
        return make(std::move(hostID), std::move(settings), Options{});
    }

    ~AwayAccess() override;
    AwayAccess(const AwayAccess&) = delete;
    AwayAccess& operator=(const AwayAccess&) = delete;

    // Called with each change of status, never twice with the same one.
    void setOnStatus(StatusHandler handler) override;
    // Called with each control channel that arrives through the door, unstarted, and its ticket.
    // The receiver must hand the ticket to connectionEnded exactly once when it is done with the
    // channel, also when it refuses it. Without a handler, channels are cancelled.
    void setOnConnection(ConnectionHandler handler) override;

    // Switches away access on or off, with the paired devices newest first (the first few active
    // ones get doors). Every call has the next knock build the keyring afresh, and every call while
    // on starts a pass, also with the same list.
    void setEnabled(bool enabled, std::vector<Device> devices) override;
    // The channel of `ticket` has ended.
    void connectionEnded(Ticket ticket) override;
    // Has the router forward the session's UDP video port; gives the external port, or nothing
    // when the router refused or the ticket's channel has ended.
    void forwardVideoPort(std::uint16_t port, Ticket ticket, VideoPortDone done) override;
    // Closes every entry and door and removes their mappings, then reports `off` and calls `done`.
    // Does not switch away access off: the host model calls it at quit.
    void stop(std::function<void()> done) override;

private:
    struct Pass {
        std::uint64_t generation = 0;
        Date now;
        std::string address;
        bool refused = false;
    };
    struct KnownAddress {
        std::string address;
        Date at;
    };

    AwayAccess(std::string hostID, std::shared_ptr<DefaultsStore> settings, Options options);

    void start();
    // Runs `step` on the queue while the service lives.
    template <class Step> void onQueue(Step step);

    void publish(const Status& status);
    void stopNow(std::function<void()> done);
    // Removes from the router that answers now every mapping the ledger still holds.
    void sweep(std::function<void()> done);
    // Runs the pass asked for while the last sweep was under way.
    void sweepEnded();
    // Starts a generation: what an older one scheduled or awaits goes no further.
    void startGeneration();
    void requestPass();
    void scheduleTick();
    bool isStale(const Pass& pass) const { return pass.generation != generation_; }

    // The steps of a pass, in order; each is called when the one before has finished.
    void beginPass();
    void learnAddress(Pass pass);
    void addressAnswered(Pass pass, const AwayRouter::Result<std::string>& result);
    void keepDoors(Pass pass);
    void openDoors(Pass pass, const std::set<std::uint16_t>& wanted);
    void renewSessions(Pass pass);
    void finishPass(const Pass& pass);
    void endPass(const Pass& pass);

    const std::shared_ptr<Queue> queue_;
    const std::function<Date()> now_;
    const std::shared_ptr<AwayRouter> router_;
    const std::shared_ptr<AwayDoors> doors_;
    const std::shared_ptr<AwaySessions> sessions_;

    // Touched on the queue only.
    StatusHandler onStatus_;
    bool enabled_ = false;
    AwayDevices devices_;
    Status status_ = Status::off();
    std::uint64_t generation_ = 0;
    bool reconciling_ = false;
    bool reconcileAgain_ = false;
    // Sweeps of what the mapping ledger holds (at start, what an earlier run left; at the end of a
    // stop, what the closing could not reach) under way, a stop's closing counted as one. Passes
    // wait until none is, so nothing swept or closed is removed after being mapped anew.
    int sweepsUnderWay_ = 0;
    WorkItem tick_;
    std::optional<KnownAddress> knownAddress_;
    Date sessionsRenewed_;
};

} // namespace velm
