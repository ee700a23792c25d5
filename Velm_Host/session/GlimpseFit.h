#pragma once

#include "platform/core/Bytes.h"

#include <cstddef>
#include <optional>

namespace velm {

// A glimpse travels as one control frame: its JPEG, in Base64 inside the message's JSON, must leave the
// frame under the limit the peer enforces, or the peer closes the connection.
class GlimpseFit {
public:
    GlimpseFit() = delete;

    // The largest JPEG whose glimpse message fits a frame.
    static std::size_t maxJpegBytes();
    // The picture when its message fits a frame; nothing otherwise (or when there is no picture).
    static std::optional<Bytes> fitted(std::optional<Bytes> jpeg);
};

} // namespace velm
