#pragma once

#include "transport/away/door/Door.h"

#include <cstdint>

namespace velm {

// Names one control channel that came through the door: the knock that opened its session entry,
// and which of that entry's channels it is. The host model receives it with the channel and hands
// it back to forward the session's video port and, exactly once, when the channel's session ends.
// Numbering the channels makes a repeated end harmless: it cannot count another channel off.
struct AwayTicket {
    Door::KnockId knockID{};
    std::uint64_t connection = 0;

    friend bool operator==(const AwayTicket&, const AwayTicket&) = default;
};

} // namespace velm
