#pragma once

#include "platform/core/Bytes.h"

#include <cstdint>
#include <map>
#include <optional>

namespace velm {

// The state of the client's video receiver that puts frames back together from their chunks. For now it
// holds only its starting state: nothing received, waiting for a keyframe.
class FrameReassembler {
public:
    using FrameId = std::uint32_t;
    // The chunks of one frame gathered so far, by chunk index.
    using PendingFrame = std::map<std::uint16_t, Bytes>;

    static constexpr std::uint64_t defaultAskAgainAfterMicros = 30'000;

    // An incomplete frame older than staleAfterMs counts as stale. Callers pass a finite, non-negative
    // time; anything else is clamped (NaN and negatives to 0, beyond the range to the largest time)
    // rather than converted with undefined results.
    FrameReassembler(bool asksAgain, double staleAfterMs);

    bool awaitingKeyframe() const { return awaitingKeyframe_; }
    const std::map<FrameId, PendingFrame>& pendingFrames() const { return pendingFrames_; }
    std::optional<FrameId> lastDelivered() const { return lastDelivered_; }
    std::optional<FrameId> highestSeen() const { return highestSeen_; }
    std::uint64_t staleAfterMicros() const { return staleAfterMicros_; }
    std::uint64_t shortestStaleMicros() const { return shortestStaleMicros_; }
    bool asksAgain() const { return asksAgain_; }
    std::uint64_t askAgainAfterMicros() const { return askAgainAfterMicros_; }

private:
    bool awaitingKeyframe_ = true;
    std::map<FrameId, PendingFrame> pendingFrames_;
    std::optional<FrameId> lastDelivered_;
    std::optional<FrameId> highestSeen_;
    std::uint64_t staleAfterMicros_;
    std::uint64_t shortestStaleMicros_;
    bool asksAgain_;
    std::uint64_t askAgainAfterMicros_ = defaultAskAgainAfterMicros;
};

} // namespace velm
