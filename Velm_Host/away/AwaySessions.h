#pragma once

#include "Velm_Host/away/AwayDevices.h"
#include "Velm_Host/away/AwayRouter.h"
#include "Velm_Host/away/AwaySessionEntry.h"
#include "Velm_Host/away/AwayTicket.h"
#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"
#include "transport/away/door/Door.h"
#include "transport/away/door/DoorListener.h"
#include "transport/channel/ControlChannel.h"
#include "transport/discovery/HostListener.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velm {

// Knock admission and the session entries it opens. A fresh knock from a device whose away access
// is active opens an entry: a TLS listener keyed by the session key that only the knocking device
// can derive, whose port the router forwards; the sealed reply tells the device the router's port.
// Each control channel that arrives there goes to the owner with a ticket naming the entry.
//
// Each knock id is admitted once (the replay guard keeps it as spent for Door::spentKnockSeconds);
// the same knock arriving again while its entry lives gets the entry's reply again, byte for byte.
// At most maxEntries entries live at once: a fresh knock evicts the entry idle longest, or is
// refused with a sealed refusal when every entry is in use.
//
// Runs on its owner's queue; every operation is called there, and so is every handler and
// completion. Completions are not called once the object is gone.
class AwaySessions : public std::enable_shared_from_this<AwaySessions> {
public:
    using Entry = AwaySessionEntry;
    using ConnectionHandler = std::function<void(std::shared_ptr<ControlChannel> channel, AwayTicket ticket)>;
    using VideoPortDone = std::function<void(std::optional<std::uint16_t> externalPort)>;

    static constexpr std::size_t maxEntries = 4;
    // An entry without channels idle longer than this is closed by the next pass.
    static constexpr double idleLimitSeconds = 30;
    static constexpr std::chrono::seconds sessionLease{900};
    // What one device could pile up by knocking without end, bounded far above any honest use.
    static constexpr std::size_t maxSpent = 4096;
    static constexpr std::size_t maxWaiting = 16;
    static constexpr std::size_t maxVideoPorts = 8;

    struct Options {
        std::string hostID;
        std::function<Date()> now = Date::now;
        // For each entry's session listener.
        HostListener::Options listener;
    };

    static std::shared_ptr<AwaySessions> make(std::shared_ptr<Queue> queue,
                                              std::shared_ptr<AwayRouter> router, Options options);

    // Without a handler, arriving channels are cancelled.
    void setOnConnection(ConnectionHandler handler) { onConnection_ = std::move(handler); }
    // The keyring is built anew from them at the next knock.
    void setDevices(AwayDevices devices);
    // Switched off, knocks get no reply and arriving channels are cancelled.
    void setEnabled(bool enabled) { enabled_ = enabled; }

    // A knock from a door; `reply` is called exactly once, now or when the entry's reply is decided.
    void knock(Bytes datagram, DoorListener::Reply reply);
    // The channel of `ticket` ended; a ticket counts once, however often it is handed back.
    void connectionEnded(const AwayTicket& ticket);
    // Forwards a session's UDP video port on the router while the ticket's channel lives.
    void forwardVideoPort(std::uint16_t port, const AwayTicket& ticket, VideoPortDone done);

    // Closes, one after another, the entries without channels idle for longer than
    // idleLimitSeconds at `now`.
    void closeIdle(Date now, std::function<void()> done);
    // Forgets the spent knock ids the replay guard no longer needs at `now`.
    void forgetSpent(Date now);
    // Maps every entry's control and video ports again, ignoring failures.
    void renewMappings(std::function<void()> done);
    // Closes every entry at once, then removes their mappings one after another.
    void closeAll(std::function<void()> done);

private:
    struct Forward {
        AwayRouter::Transport transport;
        std::uint16_t external;
        std::uint16_t internal;
    };

    AwaySessions(std::shared_ptr<Queue> queue, std::shared_ptr<AwayRouter> router, Options options);

    void refreshKeyring(Date now);
    bool isActive(const std::string& deviceID, Date now) const;
    void answerRepeat(Entry& entry, DoorListener::Reply reply);
    bool spend(const Door::KnockId& id, Date now);
    void evictIdlest();
    void open(Door::Admission admission, const SecretBytes& sessionKey, DoorListener::Reply reply, Date now);
    // The entry of `id` when it is still the one with `serial`.
    Entry* find(const Door::KnockId& id, std::uint64_t serial);
    void listenerReported(const Door::KnockId& id, std::uint64_t serial, const HostListener::State& state);
    void controlPortMapped(const Door::KnockId& id, std::uint64_t serial,
                           const AwayRouter::Result<std::uint16_t>& result);
    void decide(Entry& entry, std::optional<Bytes> datagram);
    void connectionArrived(std::shared_ptr<ControlChannel> channel, const Door::KnockId& id,
                           std::uint64_t serial);
    void videoPortMapped(std::uint64_t serial, const AwayTicket& ticket, std::uint16_t internal,
                         const AwayRouter::Result<std::uint16_t>& result, const VideoPortDone& done);
    // Whether the entry still holds the mapping.
    static bool holds(const Entry& entry, const Forward& forward);
    void renew(const Door::KnockId& id, std::uint64_t serial, const Forward& forward,
               std::function<void()> next);
    // Takes the entry out and closes its listener; gives the mappings it held.
    std::vector<Forward> remove(const Door::KnockId& id);
    void unmapInTurn(std::vector<Forward> forwards, std::function<void()> done);

    const std::shared_ptr<Queue> queue_;
    const std::shared_ptr<AwayRouter> router_;
    const Options options_;
    ConnectionHandler onConnection_;
    bool enabled_ = false;
    AwayDevices devices_;
    Door::Keyring keyring_;
    // The window the keyring was built for; none when it must be built anew.
    std::optional<std::uint64_t> keyringWindow_;
    std::map<Door::KnockId, Date> spent_;
    std::map<Door::KnockId, Entry> entries_;
    std::uint64_t serials_ = 0;
};

} // namespace velm
