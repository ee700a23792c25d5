#pragma once

#include "Velm_Host/away/AwayDoorEntry.h"
#include "Velm_Host/away/AwayRouter.h"
#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "transport/away/door/Door.h"
#include "transport/away/door/DoorListener.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace velm {

// The door ports away access keeps open and mapped on the router: one door listener per port that
// an active device may knock on now, mapped once it listens and mapped again before its lease
// could run out.
//
// Runs on its owner's queue; every operation is called there and every handler is called there.
class AwayDoors : public std::enable_shared_from_this<AwayDoors> {
public:
    using Entry = AwayDoorEntry;
    using KnockHandler = std::function<void(Bytes datagram, DoorListener::Reply reply)>;
    using ListeningHandler = std::function<void(std::uint16_t port)>;

    // A door mapping's lease, and the age after which the next pass makes it again, well before
    // the lease runs out.
    static constexpr std::chrono::seconds doorLease{1500};
    static constexpr double remapAgeSeconds = 300;
    // How long into a new window the previous window's doors stay open.
    static constexpr double previousWindowGraceSeconds = 60;

    static std::shared_ptr<AwayDoors> make(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router);

    // A knock on any door: the datagram and the way to answer it.
    void setOnKnock(KnockHandler handler) { onKnock_ = std::move(handler); }
    // A new door listens on its port.
    void setOnListening(ListeningHandler handler) { onListening_ = std::move(handler); }

    // The door ports the devices need at `now`: those of the current and the next window, and
    // during the first minute of a window also those of the previous one.
    static std::set<std::uint16_t> wantedPorts(const std::vector<Door::Keyring::Device>& devices, Date now);

    // Closes the doors whose ports are not wanted, then removes the mappings they held, one after
    // another; `done` runs after the last.
    void closeUnwanted(const std::set<std::uint16_t>& wanted, std::function<void()> done);
    // Opens a door on every wanted port that has none. A new door is mapped once it listens.
    void openMissing(const std::set<std::uint16_t>& wanted);
    // Maps, one after another, every listening door that holds no mapping or one older than
    // remapAgeSeconds. `done` learns whether the router refused any for a reason other than the
    // port being taken there.
    void mapDue(Date now, std::function<void(bool refused)> done);
    // The router has not answered: no door counts as mapped any more, so each is mapped again once it
    // answers. The doors stay open, and a closed one is still removed from the router.
    void forgetMappings();
    bool anyMapped() const;
    // Closes every door, then removes the mappings they held.
    void closeAll(std::function<void()> done) { closeUnwanted({}, std::move(done)); }

private:
    AwayDoors(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router);

    void open(std::uint16_t port);
    // The door on `port` when it is still the one with `serial`.
    Entry* find(std::uint16_t port, std::uint64_t serial);
    void knocked(std::uint16_t port, std::uint64_t serial, Bytes datagram, DoorListener::Reply reply);
    void reported(std::uint16_t port, std::uint64_t serial, std::optional<std::uint16_t> bound);
    void map(std::uint16_t port, Date now, const std::shared_ptr<bool>& refused, std::function<void()> next);
    void mapped(std::uint16_t port, Date now, const AwayRouter::Result<std::monostate>& result,
                bool& refused);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<AwayRouter> router_;
    KnockHandler onKnock_;
    ListeningHandler onListening_;
    std::map<std::uint16_t, Entry> doors_;
    std::uint64_t serials_ = 0;
};

} // namespace velm
