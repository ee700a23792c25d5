#pragma once

#include "platform/core/Bytes.h"
#include "protocol/Channel.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velm {

// One piece of traffic on the control connection. On the wire: a u32
// big-endian length covering the channel byte and the payload, the channel
// byte, then the payload.
struct ChannelFrame {
    // The largest length field a peer accepts, so a payload holds at most 4 MiB less one byte.
    static constexpr std::uint32_t maxLength = 0x400000;
    static constexpr std::size_t maxPayloadLength = maxLength - 1;

    // The channel byte as received; unknown values are kept for the owner to judge.
    std::uint8_t channel = 0;
    Bytes payload;

    // The framed bytes, built in one allocation; nothing for a payload over
    // maxPayloadLength, which the peer would reject.
    static std::optional<Bytes> encode(std::uint8_t channel, ByteView payload);
    static std::optional<Bytes> encode(Channel channel, ByteView payload) {
        return encode(static_cast<std::uint8_t>(channel), payload);
    }

    friend bool operator==(const ChannelFrame&, const ChannelFrame&) = default;
};

} // namespace velm
