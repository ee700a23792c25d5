#include "Velm_Host/away/AwaySessions.h"

#include "Velm_Host/away/InTurn.h"
#include "Velm_Host/core/BoundedText.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"
#include "transport/keys/PreSharedKey.h"

#include <algorithm>

namespace velm {
namespace {

constexpr Log awaySessionsLog("away");

// Enough of a device identifier to tell devices apart in the log.
std::string shortID(const std::string& deviceID) {
    return boundedText(deviceID, 8);
}

} // namespace

std::shared_ptr<AwaySessions> AwaySessions::make(std::shared_ptr<Queue> queue,
                                                 std::shared_ptr<AwayRouter> router, Options options) {
    return std::shared_ptr<AwaySessions>(
        new AwaySessions(std::move(queue), std::move(router), std::move(options)));
}

AwaySessions::AwaySessions(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router, Options options)
    : queue_(std::move(queue)), router_(std::move(router)), options_(std::move(options)) {}

void AwaySessions::setDevices(AwayDevices devices) {
    devices_ = std::move(devices);
    keyringWindow_.reset();
}

void AwaySessions::refreshKeyring(Date now) {
    const std::uint64_t window = Door::epoch(now);
    if (keyringWindow_ != window) {
        keyringWindow_ = window;
        const auto active = devices_.active(now);
        keyring_ = Door::Keyring(active, now);
    }
}

bool AwaySessions::isActive(const std::string& deviceID, Date now) const {
    const auto active = devices_.active(now);
    return std::any_of(active.begin(), active.end(),
                       [&](const auto& device) { return device.id == deviceID; });
}

void AwaySessions::knock(Bytes datagram, DoorListener::Reply reply) {
    const Date now = options_.now();
    refreshKeyring(now);
    if (!enabled_) {
        reply(std::nullopt);
        return;
    }
    std::optional<Door::Admission> admission = keyring_.admit(datagram, now);
    if (!admission) {
        reply(std::nullopt);
        return;
    }
    if (!isActive(admission->deviceID(), now)) {
        awaySessionsLog.info("a knock from %s, whose away access has lapsed",
                             shortID(admission->deviceID()).c_str());
        // Its tags leave the keyring at the next knock: a copy of this knock, which whoever caught it
        // may send without end, then costs no cryptography and no log line.
        keyringWindow_.reset();
        reply(std::nullopt);
        return;
    }
    const Door::KnockId id = admission->knock().id;
    if (const auto entry = entries_.find(id); entry != entries_.end()) {
        answerRepeat(entry->second, std::move(reply));
        return;
    }
    if (spent_.contains(id)) {
        reply(std::nullopt);
        return;
    }
    const std::optional<SecretBytes> sessionKey = admission->sessionKey();
    if (!sessionKey || !spend(id, now)) {
        reply(std::nullopt);
        return;
    }
    awaySessionsLog.info("a knock from %s", shortID(admission->deviceID()).c_str());
    if (entries_.size() >= maxEntries) {
        evictIdlest();
    }
    if (entries_.size() >= maxEntries) {
        reply(admission->answer(std::nullopt));
        return;
    }
    open(std::move(*admission), *sessionKey, std::move(reply), now);
}

// The device sends the same knock to several windows' doors and repeats it; all of them name one
// entry and get its one reply.
void AwaySessions::answerRepeat(Entry& entry, DoorListener::Reply reply) {
    if (entry.reply) {
        reply(entry.reply->datagram);
    } else if (entry.waiting.size() < maxWaiting) {
        entry.waiting.push_back(std::move(reply));
    } else {
        reply(std::nullopt);
    }
}

bool AwaySessions::spend(const Door::KnockId& id, Date now) {
    if (spent_.size() >= maxSpent) {
        forgetSpent(now);
    }
    // Forgetting ids still needed would let their knocks in twice; refusing is the safe side.
    if (spent_.size() >= maxSpent) {
        return false;
    }
    spent_[id] = now;
    return true;
}

void AwaySessions::evictIdlest() {
    const Entry* idlest = nullptr;
    for (const auto& [id, entry] : entries_) {
        if (entry.connections.empty() && (!idlest || entry.idleSince < idlest->idleSince)) {
            idlest = &entry;
        }
    }
    if (idlest) {
        unmapInTurn(remove(idlest->knockID), {});
    }
}

void AwaySessions::open(Door::Admission admission, const SecretBytes& sessionKey, DoorListener::Reply reply,
                        Date now) {
    const Door::KnockId id = admission.knock().id;
    const std::uint64_t serial = ++serials_;
    auto listener = HostListener::make(queue_, nullptr, options_.listener);
    std::vector<DoorListener::Reply> waiting;
    waiting.push_back(std::move(reply));
    entries_.emplace(id, Entry{.knockID = id,
                               .admission = std::move(admission),
                               .listener = listener,
                               .controlPort = std::nullopt,
                               .externalControlPort = std::nullopt,
                               .externalVideoPorts = {},
                               .connections = {},
                               .connectionsArrived = 0,
                               .reply = std::nullopt,
                               .waiting = std::move(waiting),
                               .idleSince = now,
                               .serial = serial});
    listener->setOnState(
        whileAlive(shared_from_this(), [id, serial](AwaySessions& self, const HostListener::State& state) {
            self.listenerReported(id, serial, state);
        }));
    listener->setOnConnection(whileAlive(
        shared_from_this(), [id, serial](AwaySessions& self, std::shared_ptr<ControlChannel> channel) {
            self.connectionArrived(std::move(channel), id, serial);
        }));
    // Not advertised: only the device that knocked knows where to find it, and only it has the key.
    listener->start(std::nullopt, options_.hostID, {PreSharedKey::forAway(sessionKey)});
}

AwaySessions::Entry* AwaySessions::find(const Door::KnockId& id, std::uint64_t serial) {
    const auto entry = entries_.find(id);
    return entry != entries_.end() && entry->second.serial == serial ? &entry->second : nullptr;
}

void AwaySessions::listenerReported(const Door::KnockId& id, std::uint64_t serial,
                                    const HostListener::State& state) {
    Entry* entry = find(id, serial);
    if (!entry || entry->reply) {
        return;
    }
    switch (state.kind()) {
    case HostListener::State::Kind::failed:
        decide(*entry, entry->admission.answer(std::nullopt));
        return;
    case HostListener::State::Kind::advertising:
        if (entry->controlPort) {
            return;
        }
        if (state.port() == 0) {
            decide(*entry, entry->admission.answer(std::nullopt));
            return;
        }
        entry->controlPort = state.port();
        router_->map(
            AwayRouter::Transport::tcp, state.port(), sessionLease,
            whileAlive(shared_from_this(),
                       [id, serial](AwaySessions& self, const AwayRouter::Result<std::uint16_t>& result) {
                           self.controlPortMapped(id, serial, result);
                       }));
        return;
    case HostListener::State::Kind::starting:
    case HostListener::State::Kind::stopped:
        return;
    }
}

void AwaySessions::controlPortMapped(const Door::KnockId& id, std::uint64_t serial,
                                     const AwayRouter::Result<std::uint16_t>& result) {
    Entry* entry = find(id, serial);
    if (!entry) {
        // Closed while the router was mapping: its waiting knocks were answered with nothing.
        if (result.ok()) {
            router_->unmap(AwayRouter::Transport::tcp, result.value());
        }
        return;
    }
    if (!result.ok()) {
        awaySessionsLog.error("the router wouldn't forward a port for the session");
        decide(*entry, entry->admission.answer(std::nullopt));
        return;
    }
    entry->externalControlPort = result.value();
    decide(*entry, entry->admission.answer(result.value()));
}

void AwaySessions::decide(Entry& entry, std::optional<Bytes> datagram) {
    if (entry.reply) {
        return;
    }
    entry.reply = Entry::Decided{std::move(datagram)};
    entry.idleSince = options_.now();
    const auto waiting = std::exchange(entry.waiting, {});
    const auto decided = entry.reply->datagram;
    for (const auto& reply : waiting) {
        reply(decided);
    }
}

void AwaySessions::connectionArrived(std::shared_ptr<ControlChannel> channel, const Door::KnockId& id,
                                     std::uint64_t serial) {
    Entry* entry = find(id, serial);
    // The entry outlives its knock: the device's away access may have lapsed or been withdrawn since.
    if (!enabled_ || !entry || !onConnection_ || !isActive(entry->admission.deviceID(), options_.now())) {
        channel->cancel();
        return;
    }
    const std::uint64_t number = ++entry->connectionsArrived;
    entry->connections.insert(number);
    onConnection_(std::move(channel), AwayTicket{id, number});
}

// The session's video socket closed with it: its forwarded ports go now, not with the entry, which
// may live on for another channel while the closed port is any program's to take.
void AwaySessions::connectionEnded(const AwayTicket& ticket) {
    const auto entry = entries_.find(ticket.knockID);
    if (entry == entries_.end() || entry->second.connections.erase(ticket.connection) == 0) {
        return;
    }
    entry->second.idleSince = options_.now();
    std::vector<Forward> forwards;
    std::erase_if(entry->second.externalVideoPorts, [&](const auto& video) {
        if (video.second.connection != ticket.connection) {
            return false;
        }
        forwards.push_back({AwayRouter::Transport::udp, video.first, video.second.internal});
        return true;
    });
    unmapInTurn(std::move(forwards), {});
}

void AwaySessions::forwardVideoPort(std::uint16_t port, const AwayTicket& ticket, VideoPortDone done) {
    const auto entry = entries_.find(ticket.knockID);
    if (entry == entries_.end() || !entry->second.connections.contains(ticket.connection) ||
        entry->second.externalVideoPorts.size() >= maxVideoPorts) {
        done(std::nullopt);
        return;
    }
    const std::uint64_t serial = entry->second.serial;
    router_->map(AwayRouter::Transport::udp, port, sessionLease,
                 whileAlive(shared_from_this(),
                            [serial, ticket, port, done](AwaySessions& self,
                                                         const AwayRouter::Result<std::uint16_t>& result) {
                                self.videoPortMapped(serial, ticket, port, result, done);
                            }));
}

void AwaySessions::videoPortMapped(std::uint64_t serial, const AwayTicket& ticket, std::uint16_t internal,
                                   const AwayRouter::Result<std::uint16_t>& result,
                                   const VideoPortDone& done) {
    if (!result.ok()) {
        awaySessionsLog.error("the router wouldn't forward a video port");
        done(std::nullopt);
        return;
    }
    Entry* entry = find(ticket.knockID, serial);
    if (!entry || !entry->connections.contains(ticket.connection)) {
        router_->unmap(AwayRouter::Transport::udp, result.value(), [done] { done(std::nullopt); });
        return;
    }
    entry->externalVideoPorts[result.value()] = {internal, ticket.connection};
    done(result.value());
}

void AwaySessions::closeIdle(Date now, std::function<void()> done) {
    std::vector<Door::KnockId> ids;
    for (const auto& [id, entry] : entries_) {
        ids.push_back(id);
    }
    inTurn<Door::KnockId>(
        std::move(ids),
        [weak = weak_from_this(), now](const Door::KnockId& id, std::function<void()> next) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            // Looked at again here: a channel may have arrived while the one before was closing.
            const auto entry = self->entries_.find(id);
            if (entry == self->entries_.end() || !entry->second.connections.empty()) {
                next();
                return;
            }
            // A clock set back leaves the idle start in the future: counted from now instead, the
            // entry is closed after the idle limit rather than once the clock has caught up.
            if (now.secondsSince(entry->second.idleSince) < 0) {
                entry->second.idleSince = now;
            }
            if (!(now.secondsSince(entry->second.idleSince) > idleLimitSeconds)) {
                next();
                return;
            }
            self->unmapInTurn(self->remove(id), std::move(next));
        },
        std::move(done));
}

void AwaySessions::forgetSpent(Date now) {
    std::erase_if(spent_, [now](const auto& spent) { return !Door::keepsSpentKnock(spent.second, now); });
}

void AwaySessions::renewMappings(std::function<void()> done) {
    struct Renewal {
        Door::KnockId id;
        std::uint64_t serial;
        Forward forward;
    };
    std::vector<Renewal> renewals;
    for (const auto& [id, entry] : entries_) {
        if (entry.controlPort && entry.externalControlPort) {
            renewals.push_back(
                {id,
                 entry.serial,
                 {AwayRouter::Transport::tcp, *entry.externalControlPort, *entry.controlPort}});
        }
        for (const auto& [external, video] : entry.externalVideoPorts) {
            renewals.push_back({id, entry.serial, {AwayRouter::Transport::udp, external, video.internal}});
        }
    }
    inTurn<Renewal>(
        std::move(renewals),
        [weak = weak_from_this()](const Renewal& renewal, std::function<void()> next) {
            if (const auto self = weak.lock()) {
                self->renew(renewal.id, renewal.serial, renewal.forward, std::move(next));
            }
        },
        std::move(done));
}

void AwaySessions::renew(const Door::KnockId& id, std::uint64_t serial, const Forward& forward,
                         std::function<void()> next) {
    // A mapping removed meanwhile, with its entry or its channel, would be brought back.
    const Entry* entry = find(id, serial);
    if (!entry || !holds(*entry, forward)) {
        next();
        return;
    }
    router_->map(forward.transport, forward.external, forward.internal, sessionLease,
                 whileAlive(shared_from_this(),
                            [id, serial, forward, next = std::move(next)](
                                AwaySessions& self, const AwayRouter::Result<std::monostate>& result) {
                                const Entry* renewed = self.find(id, serial);
                                if (result.ok() && (!renewed || !holds(*renewed, forward))) {
                                    self.router_->unmap(forward.transport, forward.external);
                                }
                                next();
                            }));
}

bool AwaySessions::holds(const Entry& entry, const Forward& forward) {
    if (forward.transport == AwayRouter::Transport::tcp) {
        return entry.externalControlPort == forward.external;
    }
    return entry.externalVideoPorts.contains(forward.external);
}

void AwaySessions::closeAll(std::function<void()> done) {
    std::vector<Forward> forwards;
    while (!entries_.empty()) {
        const auto removed = remove(entries_.begin()->first);
        forwards.insert(forwards.end(), removed.begin(), removed.end());
    }
    unmapInTurn(std::move(forwards), std::move(done));
}

std::vector<AwaySessions::Forward> AwaySessions::remove(const Door::KnockId& id) {
    auto node = entries_.extract(id);
    if (node.empty()) {
        return {};
    }
    // Dropping the listener closes its port; channels already handed over live on.
    Entry entry = std::move(node.mapped());
    entry.listener.reset();
    for (const auto& reply : entry.waiting) {
        reply(std::nullopt);
    }
    std::vector<Forward> forwards;
    if (entry.externalControlPort) {
        forwards.push_back({AwayRouter::Transport::tcp, *entry.externalControlPort, 0});
    }
    for (const auto& [external, video] : entry.externalVideoPorts) {
        forwards.push_back({AwayRouter::Transport::udp, external, video.internal});
    }
    return forwards;
}

void AwaySessions::unmapInTurn(std::vector<Forward> forwards, std::function<void()> done) {
    inTurn<Forward>(
        std::move(forwards),
        [router = router_](const Forward& forward, std::function<void()> next) {
            router->unmap(forward.transport, forward.external, std::move(next));
        },
        std::move(done));
}

} // namespace velm
