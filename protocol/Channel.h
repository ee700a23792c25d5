#pragma once

#include <cstdint>
#include <optional>

namespace velm {

// The kinds of traffic that share one control connection; the raw value is the
// channel byte of a frame.
enum class Channel : std::uint8_t {
    control = 0,   // one control message as JSON
    input = 1,     // one binary input event
    clipboard = 2, // one binary clipboard message
    audio = 3,     // a u32 sequence number, then one encoded sound packet
    file = 4,      // raw file data
};

// The channel a frame's byte names; bytes from 5 name none.
constexpr std::optional<Channel> channelFromRaw(std::uint8_t raw) {
    if (raw > static_cast<std::uint8_t>(Channel::file)) {
        return std::nullopt;
    }
    return static_cast<Channel>(raw);
}

} // namespace velm
