#include "Velm_Host/away/AwayDoors.h"

#include "Velm_Host/away/InTurn.h"
#include "platform/dispatch/WhileAlive.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <utility>

namespace velm {
namespace {

constexpr Log awayDoorsLog("away");

} // namespace

std::shared_ptr<AwayDoors> AwayDoors::make(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router) {
    return std::shared_ptr<AwayDoors>(new AwayDoors(std::move(queue), std::move(router)));
}

AwayDoors::AwayDoors(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router)
    : queue_(std::move(queue)), router_(std::move(router)) {}

std::set<std::uint16_t> AwayDoors::wantedPorts(const std::vector<Door::Keyring::Device>& devices, Date now) {
    const std::uint64_t current = Door::epoch(now);
    std::vector<std::uint64_t> windows = {current, current + 1};
    const double intoWindow = now.secondsSinceReferenceDate() + Date::referenceDateInUnixTime -
                              static_cast<double>(current) * Door::windowSeconds;
    // The keyring still admits knocks for the previous window; its doors are kept only briefly,
    // for a device whose clock runs a little behind.
    if (current != 0 && intoWindow < previousWindowGraceSeconds) {
        windows.push_back(current - 1);
    }
    std::set<std::uint16_t> ports;
    for (const auto& device : devices) {
        for (const std::uint64_t window : windows) {
            ports.insert(Door::doorPort(device.key, window));
        }
    }
    return ports;
}

void AwayDoors::closeUnwanted(const std::set<std::uint16_t>& wanted, std::function<void()> done) {
    std::vector<std::uint16_t> mapped;
    for (auto door = doors_.begin(); door != doors_.end();) {
        if (wanted.contains(door->first)) {
            ++door;
            continue;
        }
        door->second.listener->close();
        if (door->second.mappedAt || door->second.mayBeMapped) {
            mapped.push_back(door->first);
        }
        door = doors_.erase(door);
    }
    inTurn<std::uint16_t>(
        std::move(mapped),
        [router = router_](const std::uint16_t& port, std::function<void()> next) {
            router->unmap(AwayRouter::Transport::udp, port, std::move(next));
        },
        std::move(done));
}

void AwayDoors::openMissing(const std::set<std::uint16_t>& wanted) {
    for (const std::uint16_t port : wanted) {
        if (!doors_.contains(port)) {
            open(port);
        }
    }
}

void AwayDoors::open(std::uint16_t port) {
    const std::uint64_t serial = ++serials_;
    auto listener = DoorListener::make(queue_);
    listener->setOnDatagram(whileAlive(
        shared_from_this(), [port, serial](AwayDoors& self, Bytes datagram, DoorListener::Reply reply) {
            self.knocked(port, serial, std::move(datagram), std::move(reply));
        }));
    listener->setOnPort(
        whileAlive(shared_from_this(), [port, serial](AwayDoors& self, std::optional<std::uint16_t> bound) {
            self.reported(port, serial, bound);
        }));
    doors_[port] = Entry{listener, false, std::nullopt, false, serial};
    listener->open(port);
}

AwayDoors::Entry* AwayDoors::find(std::uint16_t port, std::uint64_t serial) {
    const auto door = doors_.find(port);
    return door != doors_.end() && door->second.serial == serial ? &door->second : nullptr;
}

void AwayDoors::knocked(std::uint16_t port, std::uint64_t serial, Bytes datagram, DoorListener::Reply reply) {
    // A datagram read before its door was closed must not open a session after the close.
    if (!find(port, serial) || !onKnock_) {
        reply(std::nullopt);
        return;
    }
    onKnock_(std::move(datagram), std::move(reply));
}

void AwayDoors::reported(std::uint16_t port, std::uint64_t serial, std::optional<std::uint16_t> bound) {
    Entry* door = find(port, serial);
    if (!door) {
        return;
    }
    const bool listening = bound == port;
    if (!listening) {
        awayDoorsLog.info("door %hu can't be listened on", port);
    }
    door->isListening = listening;
    if (listening && onListening_) {
        onListening_(port);
    }
}

void AwayDoors::mapDue(Date now, std::function<void(bool refused)> done) {
    std::vector<std::uint16_t> due;
    for (const auto& [port, door] : doors_) {
        // A mapping dated in the future was made before the clock was set back: its age is unknown.
        const double age = door.mappedAt ? now.secondsSince(*door.mappedAt) : 0;
        if (door.isListening && (!door.mappedAt || age > remapAgeSeconds || age < 0)) {
            due.push_back(port);
        }
    }
    auto refused = std::make_shared<bool>(false);
    inTurn<std::uint16_t>(
        std::move(due),
        [weak = weak_from_this(), now, refused](const std::uint16_t& port, std::function<void()> next) {
            if (const auto self = weak.lock()) {
                self->map(port, now, refused, std::move(next));
            }
        },
        [refused, done = std::move(done)] { done(*refused); });
}

void AwayDoors::map(std::uint16_t port, Date now, const std::shared_ptr<bool>& refused,
                    std::function<void()> next) {
    // A door closed since the walk began is left alone.
    const auto door = doors_.find(port);
    if (door == doors_.end() || !door->second.isListening) {
        next();
        return;
    }
    router_->map(
        AwayRouter::Transport::udp, port, port, doorLease,
        whileAlive(shared_from_this(), [port, now, refused, next = std::move(next)](
                                           AwayDoors& self, AwayRouter::Result<std::monostate> result) {
            self.mapped(port, now, result, *refused);
            next();
        }));
}

void AwayDoors::mapped(std::uint16_t port, Date now, const AwayRouter::Result<std::monostate>& result,
                       bool& refused) {
    const auto door = doors_.find(port);
    if (result.ok()) {
        if (door != doors_.end()) {
            door->second.mappedAt = now;
            door->second.mayBeMapped = true;
        } else {
            // Closed while the router was mapping it (by a stop, or a new window): nothing may be
            // left forwarding to a port nobody listens on.
            router_->unmap(AwayRouter::Transport::udp, port);
        }
        return;
    }
    if (result.failure().isRefused(PortMapper::conflict)) {
        awayDoorsLog.info("door %hu is taken on the router", port);
        return;
    }
    awayDoorsLog.error("the router wouldn't forward door %hu: %s", port,
                       result.failure().description().c_str());
    refused = true;
}

void AwayDoors::forgetMappings() {
    for (auto& [port, door] : doors_) {
        door.mappedAt.reset();
    }
}

bool AwayDoors::anyMapped() const {
    return std::any_of(doors_.begin(), doors_.end(), [](const auto& door) { return door.second.mappedAt; });
}

} // namespace velm
