#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/core/Bytes.h"
#include "protocol/ChannelFrame.h"
#include "protocol/WireError.h"

namespace velm {

// Cuts a received byte stream into channel frames, whatever the sizes of the
// reads that deliver it. Each payload byte is copied once, straight into its
// frame; only a partial header is held back between reads, so memory stays
// within one frame.
class FrameParser {
public:
    // The frames that the bytes complete, in stream order. A length field of 0
    // or above ChannelFrame::maxLength throws WireError::frameTooLarge as soon
    // as its four bytes are in, and the frames completed in that call are
    // lost. The stream cannot be resynchronised: every later call throws the
    // same error and keeps nothing.
    std::vector<ChannelFrame> feed(ByteView bytes);

private:
    enum class Stage { length, channel, payload };

    Stage stage_ = Stage::length;
    std::array<std::uint8_t, 4> lengthBytes_{};
    std::size_t lengthFill_ = 0;
    std::uint32_t length_ = 0;
    ChannelFrame frame_;
    std::optional<WireError> failure_;
};

} // namespace velm
