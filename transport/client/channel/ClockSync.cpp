#include "transport/client/channel/ClockSync.h"

namespace velm {

namespace {

// Wide enough that now + offset - remote is exact for any inputs, so a wild stamp from the peer gives
// a wild age but never an overflow.
__extension__ using Wide = __int128;

} // namespace

void ClockSync::addSample(std::uint64_t sentMicros, std::uint64_t remoteMicros,
                          std::uint64_t receivedMicros) {
    // The times may come back from the peer, so they are checked rather than trusted.
    if (sentMicros >= timeLimit || remoteMicros >= timeLimit || receivedMicros >= timeLimit) {
        return;
    }
    if (receivedMicros < sentMicros) {
        return;
    }
    const std::uint64_t rtt = receivedMicros - sentMicros;
    const double rttSampleMs = static_cast<double>(rtt) / 1000.0;
    rttMs_ = rttMs_ == 0 ? rttSampleMs : smoothing * rttSampleMs + (1 - smoothing) * rttMs_;

    ++samplesSinceBest_;
    if (rtt <= bestRTTMicros_ || samplesSinceBest_ >= refreshAfterSamples) {
        bestRTTMicros_ = rtt;
        samplesSinceBest_ = 0;
        // Both the remote time and the midpoint (at most receivedMicros) lie in [0, 2^63), so their
        // difference fits a signed 64-bit value.
        const std::uint64_t midpoint = sentMicros + rtt / 2;
        offsetMicros_ = static_cast<std::int64_t>(remoteMicros) - static_cast<std::int64_t>(midpoint);
    }
}

double ClockSync::millisecondsSince(std::uint64_t remote, std::uint64_t now) const {
    const Wide age = Wide{now} + offsetMicros_ - Wide{remote};
    return age <= 0 ? 0.0 : static_cast<double>(age) / 1000.0;
}

} // namespace velm
