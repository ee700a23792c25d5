#pragma once

#include "platform/display/Monitor.h"
#include "protocol/StreamDescription.h"
#include "protocol/StreamRequest.h"

#include <cstdint>
#include <optional>

namespace velm {

// How large and how fast a screen is streamed for a client's request. Every number of the request
// and the client's hello comes from the network, so any value gives a usable answer.
struct StreamSizing {
    static constexpr std::int64_t minFPS = 15;
    static constexpr std::int64_t standardMaxFPS = 60;
    // Above the standard rate only for a client whose screen shows more than this...
    static constexpr std::int64_t highRateClientAbove = 119;
    // ...and a screen that refreshes at least this often (Hz).
    static constexpr double highRateRefresh = 100;

    struct Size {
        std::int64_t width = 0;
        std::int64_t height = 0;
        friend bool operator==(const Size&, const Size&) = default;
    };

    // The screen scaled down (never up) to fit `maxWidth` × `maxHeight`, aspect kept, both sides
    // even and at least 2.
    static Size fit(int screenWidth, int screenHeight, std::int64_t maxWidth, std::int64_t maxHeight);

    // The rate asked for, at least `minFPS`, at most what the screen refreshes (when known) and
    // what the client shows (its hello's maxFPS; the standard rate while it is unknown), and above
    // the standard rate only for a fast client on a fast screen.
    static std::int64_t fps(std::int64_t requested, std::optional<std::int64_t> clientMaxFPS,
                            std::optional<double> refreshRate);

    // The stream of `screen` for `request`, outside app mode: HEVC of the screen, no test pattern,
    // the bit rate as asked, and the streamed area in points (X has one scale: its pixels).
    static StreamDescription describe(const Monitor& screen, const StreamRequest& request,
                                      std::optional<std::int64_t> clientMaxFPS);
};

} // namespace velm
