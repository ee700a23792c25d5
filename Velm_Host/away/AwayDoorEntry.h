#pragma once

#include "platform/core/Date.h"
#include "transport/away/door/DoorListener.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace velm {

// One door port that away access keeps open, whether or not the router maps it yet.
struct AwayDoorEntry {
    std::shared_ptr<DoorListener> listener;
    // Whether the listener reported listening on the door's own port.
    bool isListening = false;
    // When the pass that last mapped the door on the router began; none while it holds no mapping.
    std::optional<Date> mappedAt;
    // Whether the router may still forward the door: from its first mapping until that is removed,
    // also once mappedAt was forgotten because the router stopped answering for a while.
    bool mayBeMapped = false;
    // Tells this door from one opened later on the same port, so that a report of a door that
    // was closed meanwhile is not taken for the new one's.
    std::uint64_t serial = 0;
};

} // namespace velm
