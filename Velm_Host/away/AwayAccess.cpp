#include "Velm_Host/away/AwayAccess.h"

#include "Velm_Host/core/BoundedText.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/away/router/RouterNetwork.h"

#include <utility>

namespace velm {
namespace {

constexpr Log awayAccessLog("away");

} // namespace

std::shared_ptr<AwayAccess> AwayAccess::make(std::string hostID, std::shared_ptr<DefaultsStore> settings,
                                             Options options) {
    auto access = std::shared_ptr<AwayAccess>(
        new AwayAccess(std::move(hostID), std::move(settings), std::move(options)));
    access->start();
    return access;
}

AwayAccess::AwayAccess(std::string hostID, std::shared_ptr<DefaultsStore> settings, Options options)
    : queue_(options.queue ? options.queue : Queue::make(std::string(queueLabel))), now_(options.now),
      router_(AwayRouter::make(queue_, options.router ? options.router : RouterNetwork::make(),
                               options.routerTiming, std::move(settings))),
      doors_(AwayDoors::make(queue_, router_)),
      sessions_(
          AwaySessions::make(queue_, router_, {std::move(hostID), options.now, std::move(options.listener)})),
      sessionsRenewed_(now_()) {}

AwayAccess::~AwayAccess() {
    tick_.cancel();
}

template <class Step> void AwayAccess::onQueue(Step step) {
    queue_->post(whileAlive(shared_from_this(), std::move(step)));
}

void AwayAccess::start() {
    onQueue([](AwayAccess& self) {
        self.doors_->setOnKnock(
            whileAlive(self.sessions_, [](AwaySessions& sessions, Bytes datagram, DoorListener::Reply reply) {
                sessions.knock(std::move(datagram), std::move(reply));
            }));
        self.doors_->setOnListening(whileAlive(
            self.shared_from_this(), [](AwayAccess& access, std::uint16_t) { access.requestPass(); }));
        self.sweep({});
    });
}

void AwayAccess::setOnStatus(StatusHandler handler) {
    onQueue([handler = std::move(handler)](AwayAccess& self) { self.onStatus_ = handler; });
}

void AwayAccess::setOnConnection(ConnectionHandler handler) {
    onQueue([handler = std::move(handler)](AwayAccess& self) { self.sessions_->setOnConnection(handler); });
}

void AwayAccess::setEnabled(bool enabled, std::vector<Device> devices) {
    onQueue([enabled, devices = std::move(devices)](AwayAccess& self) {
        self.devices_ = AwayDevices(devices);
        self.sessions_->setDevices(self.devices_);
        const bool was = std::exchange(self.enabled_, enabled);
        self.sessions_->setEnabled(enabled);
        if (!was && enabled) {
            self.startGeneration();
            self.publish(Status::looking());
            self.requestPass();
        } else if (was && enabled) {
            self.requestPass();
        } else if (was && !enabled) {
            self.stopNow({});
        }
    });
}

void AwayAccess::connectionEnded(Ticket ticket) {
    onQueue([ticket](AwayAccess& self) { self.sessions_->connectionEnded(ticket); });
}

void AwayAccess::forwardVideoPort(std::uint16_t port, Ticket ticket, VideoPortDone done) {
    onQueue([port, ticket, done = std::move(done)](AwayAccess& self) {
        self.sessions_->forwardVideoPort(port, ticket, done);
    });
}

void AwayAccess::stop(std::function<void()> done) {
    onQueue([done = std::move(done)](AwayAccess& self) { self.stopNow(done); });
}

void AwayAccess::publish(const Status& status) {
    if (status == status_) {
        return;
    }
    status_ = status;
    awayAccessLog.info("away access: %s", status.description().c_str());
    if (onStatus_) {
        onStatus_(status);
    }
}

void AwayAccess::startGeneration() {
    ++generation_;
    tick_.cancel();
    reconciling_ = false;
    reconcileAgain_ = false;
}

// Entries and doors are all closed at once, before anything is awaited, so that no knock can open
// a session while their mappings are being removed. A door whose mapping was forgotten when the
// router stopped answering may still be forwarded there: the ledger, which keeps every mapping
// until the router let it go, is swept last, on whatever router answers now. The closing counts as
// a sweep: a pass of a generation switched on meanwhile waits for both, since the door ports it
// would map anew are the ones being removed, and their records with them.
void AwayAccess::stopNow(std::function<void()> done) {
    startGeneration();
    ++sweepsUnderWay_;
    auto remaining = std::make_shared<int>(2);
    auto closed = [weak = weak_from_this(), generation = generation_, remaining, done = std::move(done)] {
        if (--*remaining > 0) {
            return;
        }
        const auto self = weak.lock();
        if (!self) {
            if (done) {
                done();
            }
            return;
        }
        // Switched on again meanwhile: the new generation's status stands.
        if (self->generation_ == generation) {
            self->publish(Status::off());
        }
        self->sweep(done);
        self->sweepEnded();
    };
    sessions_->closeAll(closed);
    doors_->closeAll(closed);
}

void AwayAccess::sweep(std::function<void()> done) {
    ++sweepsUnderWay_;
    router_->removeLeftovers([weak = weak_from_this(), done = std::move(done)] {
        if (const auto self = weak.lock()) {
            self->sweepEnded();
        }
        if (done) {
            done();
        }
    });
}

void AwayAccess::sweepEnded() {
    if (--sweepsUnderWay_ == 0 && std::exchange(reconcileAgain_, false)) {
        requestPass();
    }
}

void AwayAccess::requestPass() {
    if (!enabled_) {
        return;
    }
    if (sweepsUnderWay_ > 0 || reconciling_) {
        reconcileAgain_ = true;
        return;
    }
    beginPass();
}

void AwayAccess::scheduleTick() {
    tick_.cancel();
    tick_ = queue_->postAfter(passInterval,
                              whileAlive(shared_from_this(), [generation = generation_](AwayAccess& self) {
                                  if (self.generation_ == generation) {
                                      self.requestPass();
                                  }
                              }));
}

void AwayAccess::beginPass() {
    reconciling_ = true;
    tick_.cancel();
    const Pass pass{generation_, now_(), {}, false};
    sessions_->closeIdle(
        pass.now, whileAlive(shared_from_this(), [pass](AwayAccess& self) { self.learnAddress(pass); }));
}

void AwayAccess::learnAddress(Pass pass) {
    if (isStale(pass)) {
        return;
    }
    sessions_->forgetSpent(pass.now);
    if (knownAddress_) {
        const double age = pass.now.secondsSince(knownAddress_->at);
        if (age >= 0 && age < addressReuseSeconds) {
            pass.address = knownAddress_->address;
            keepDoors(std::move(pass));
            return;
        }
    }
    router_->externalAddress(whileAlive(
        shared_from_this(), [pass](AwayAccess& self, const AwayRouter::Result<std::string>& result) {
            self.addressAnswered(pass, result);
        }));
}

void AwayAccess::addressAnswered(Pass pass, const AwayRouter::Result<std::string>& result) {
    // Stopped (or switched off) while the router was asked: nothing may be published after `off`.
    if (isStale(pass)) {
        return;
    }
    if (!result.ok()) {
        knownAddress_.reset();
        if (status_ != Status::noRouter()) {
            awayAccessLog.info("no router that forwards ports: %s", result.failure().description().c_str());
        }
        doors_->forgetMappings();
        publish(Status::noRouter());
        endPass(pass);
        return;
    }
    pass.address = boundedText(result.value(), maxAddressBytes);
    // A router whose own line is not up yet answers with no address at all; the next pass asks
    // again rather than keep that for addressReuseSeconds.
    if (pass.address == unknownAddress) {
        knownAddress_.reset();
    } else {
        knownAddress_ = KnownAddress{pass.address, pass.now};
    }
    keepDoors(std::move(pass));
}

void AwayAccess::keepDoors(Pass pass) {
    // Behind another address translation nothing from outside reaches the doors: leave them be.
    if (!PortMapper::isPublicAddress(pass.address)) {
        publish(Status::notReachable(pass.address));
        endPass(pass);
        return;
    }
    auto wanted = AwayDoors::wantedPorts(devices_.active(pass.now), pass.now);
    doors_->closeUnwanted(wanted, whileAlive(shared_from_this(), [pass, wanted](AwayAccess& self) {
                              self.openDoors(pass, wanted);
                          }));
}

void AwayAccess::openDoors(Pass pass, const std::set<std::uint16_t>& wanted) {
    if (isStale(pass)) {
        return;
    }
    doors_->openMissing(wanted);
    doors_->mapDue(pass.now, whileAlive(shared_from_this(), [pass](AwayAccess& self, bool refused) {
                       Pass mapped = pass;
                       mapped.refused = refused;
                       self.renewSessions(std::move(mapped));
                   }));
}

void AwayAccess::renewSessions(Pass pass) {
    if (isStale(pass)) {
        return;
    }
    if (pass.refused) {
        // Ask the router again next time: the refusal may come from a router that changed.
        knownAddress_.reset();
    }
    // A clock set back leaves the last renewal in the future; waiting for the clock to catch up
    // would let the sessions' leases run out meanwhile.
    const double sinceRenewal = pass.now.secondsSince(sessionsRenewed_);
    if (sinceRenewal > sessionRenewalSeconds || sinceRenewal < 0) {
        sessionsRenewed_ = pass.now;
        sessions_->renewMappings(
            whileAlive(shared_from_this(), [pass](AwayAccess& self) { self.finishPass(pass); }));
        return;
    }
    finishPass(pass);
}

void AwayAccess::finishPass(const Pass& pass) {
    if (isStale(pass)) {
        return;
    }
    // A door taken on the router alone never counts as refused.
    publish(pass.refused && !doors_->anyMapped() ? Status::routerRefused() : Status::ready(pass.address));
    endPass(pass);
}

void AwayAccess::endPass(const Pass& pass) {
    if (isStale(pass)) {
        return;
    }
    reconciling_ = false;
    if (std::exchange(reconcileAgain_, false)) {
        // A stop that comes before this task runs ends the generation, and with it the pass asked for.
        onQueue([generation = generation_](AwayAccess& self) {
            if (self.generation_ == generation) {
                self.requestPass();
            }
        });
        return;
    }
    scheduleTick();
}

} // namespace velm
