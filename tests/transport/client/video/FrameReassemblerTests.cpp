#include "transport/client/video/FrameReassembler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

TEST(FrameReassemblerTest, StaleTimeIsWholeMicrosecondsAndClampedWhenNotSensible) {
    constexpr auto most = std::numeric_limits<std::uint64_t>::max();
    const std::pair<double, std::uint64_t> cases[] = {
        {0.0025, 2},    {0, 0},           {-5, 0},       {NAN, 0},
        {-INFINITY, 0}, {INFINITY, most}, {1e300, most}, {0x1p55, most},
    };
    for (const auto& [ms, micros] : cases) {
        EXPECT_EQ(FrameReassembler(true, ms).staleAfterMicros(), micros) << ms;
        EXPECT_EQ(FrameReassembler(true, ms).shortestStaleMicros(), micros) << ms;
    }
}

} // namespace
} // namespace velm
