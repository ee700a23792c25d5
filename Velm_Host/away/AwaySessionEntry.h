#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/Date.h"
#include "transport/away/door/Door.h"
#include "transport/away/door/DoorListener.h"
#include "transport/discovery/HostListener.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace velm {

// What an admitted knock opened: a session listener of its own, keyed by the session key that only
// the knocking device can derive, with its control port forwarded on the router, and the video
// ports forwarded for the sessions that came through it.
struct AwaySessionEntry {
    // The reply once it is decided; `datagram` is none when nothing is ever sent for this knock.
    struct Decided {
        std::optional<Bytes> datagram;
    };

    Door::KnockId knockID{};
    // Every reply to this knock is sealed from it, with the one host key it drew.
    Door::Admission admission;
    std::shared_ptr<HostListener> listener;
    // The listener's local port, from its first report of listening.
    std::optional<std::uint16_t> controlPort;
    // The router's port forwarded to controlPort; none until mapped, and for good when that failed.
    std::optional<std::uint16_t> externalControlPort;
    // A video port forwarded for one of the channels.
    struct VideoForward {
        std::uint16_t internal = 0;
        // The number of the channel whose session it is; it goes when that channel ends.
        std::uint64_t connection = 0;
    };

    // External UDP port -> what it forwards, one per video port forwarded.
    std::map<std::uint16_t, VideoForward> externalVideoPorts;
    // The channels that arrived and have not ended, by their tickets' numbers.
    std::set<std::uint64_t> connections;
    std::uint64_t connectionsArrived = 0;
    std::optional<Decided> reply;
    // The knocks with this id that wait for the decision.
    std::vector<DoorListener::Reply> waiting;
    // Made, decided or last left by a channel; an entry idle too long is closed.
    Date idleSince;
    // Tells this entry from any other, for completions that arrive after it was closed.
    std::uint64_t serial = 0;
};

} // namespace velm
