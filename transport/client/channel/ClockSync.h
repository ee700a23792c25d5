#pragma once

#include <cstdint>
#include <limits>

namespace velm {

// The client's estimate of the round-trip time to the host and of the offset between the host's clock
// and its own, from timed round trips. Times are microseconds on each side's monotonic clock.
//
// The offset comes from the sample with the shortest round trip, where the midpoint guess is least
// wrong; it is refreshed at least every refreshAfterSamples samples so that a drifting clock is
// followed even when no shorter round trip comes along.
class ClockSync {
public:
    // Monotonic times stay far below this; a time at or beyond it can only come from a broken or
    // hostile peer, and such a sample is ignored.
    static constexpr std::uint64_t timeLimit = std::uint64_t{1} << 63;
    static constexpr int refreshAfterSamples = 31;
    // Weight of a new round trip in the smoothed round-trip time.
    static constexpr double smoothing = 0.2;

    // One round trip: when the probe left, the peer's time stamp in its answer, and when the answer
    // arrived. A sample whose answer arrived before the probe left, or with a time at or beyond
    // timeLimit, changes nothing.
    void addSample(std::uint64_t sentMicros, std::uint64_t remoteMicros, std::uint64_t receivedMicros);

    // How long ago, on the local clock, the peer took its time stamp `remote`, in milliseconds; 0 when
    // the stamp seems to lie in the future.
    double millisecondsSince(std::uint64_t remote, std::uint64_t now) const;

    // Smoothed round-trip time in milliseconds; 0 means no sample yet.
    double rttMs() const { return rttMs_; }
    // Peer clock minus local clock, from the best recent sample.
    std::int64_t offsetMicros() const { return offsetMicros_; }
    // Round-trip time of the sample behind offsetMicros(); the largest value before any sample.
    std::uint64_t bestRTTMicros() const { return bestRTTMicros_; }
    // Samples taken since offsetMicros() was last set.
    int samplesSinceBest() const { return samplesSinceBest_; }

    bool operator==(const ClockSync&) const = default;

private:
    double rttMs_ = 0;
    std::int64_t offsetMicros_ = 0;
    std::uint64_t bestRTTMicros_ = std::numeric_limits<std::uint64_t>::max();
    int samplesSinceBest_ = 0;
};

} // namespace velm
