#include "transport/client/video/FrameReassembler.h"

#include <limits>

namespace velm {

namespace {

// Whole microseconds, rounded down; defined for every double.
std::uint64_t wholeMicros(double milliseconds) {
    const double micros = milliseconds * 1000.0;
    if (!(micros > 0)) {
        return 0;
    }
    // 2^64 as a double; every double below it converts to UInt64 without overflow.
    constexpr double limit = 18446744073709551616.0;
    if (micros >= limit) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(micros);
}

} // namespace

FrameReassembler::FrameReassembler(bool asksAgain, double staleAfterMs)
    : staleAfterMicros_(wholeMicros(staleAfterMs)), shortestStaleMicros_(staleAfterMicros_),
      asksAgain_(asksAgain) {}

} // namespace velm
