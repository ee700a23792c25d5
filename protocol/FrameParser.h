#pragma once

#include "platform/core/Bytes.h"
#include "protocol/ChannelFrame.h"
#include "protocol/WireError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace velm {

// Cuts a received byte stream into channel frames, whatever the sizes of the
// reads that deliver it. A frame that arrives whole within one read is handed
// on where it lies; only a frame split across reads is gathered in a buffer
// the parser reuses, so memory stays within about one frame.
//
// A length field of 0 or above ChannelFrame::maxLength throws
// WireError::frameTooLarge as soon as its four bytes are in. Bytes are checked
// before any frame of the same call is handed on, so a call that throws hands
// on nothing. The stream cannot be resynchronised: every later call throws the
// same error and keeps nothing.
class FrameParser {
public:
    // A frame that is only valid until the callback that receives it returns.
    struct FrameView {
        std::uint8_t channel;
        ByteView payload;
    };
    using OnFrame = std::function<void(const FrameView&)>;

    // The frames that the bytes complete, in stream order, each with a copy of its payload.
    std::vector<ChannelFrame> feed(ByteView bytes);

    // Hands each frame the bytes complete to onFrame, in stream order, without
    // copying it where possible. onFrame must not feed or destroy this parser;
    // when it throws, the parser has lost its place and must be dropped.
    void feed(ByteView bytes, const OnFrame& onFrame);

private:
    // Throws when a length field in the partial frame or the new bytes is out of range.
    void check(ByteView bytes);
    // Completes the partial frame from the front of bytes; returns how many it took.
    std::size_t complete(ByteView bytes, const OnFrame& onFrame);
    [[noreturn]] void fail(std::uint32_t length);

    // The start of a frame that has not fully arrived: part of its header, or its
    // whole header and part of its body.
    Bytes partial_;
    std::optional<WireError> failure_;
};

} // namespace velm
