#include "transport/client/channel/ClockSync.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace velm {
namespace {

constexpr std::uint64_t limit = ClockSync::timeLimit;

TEST(ClockSyncTest, FirstSampleSetsOffsetFromTheMidpointAndLaterOnesSmooth) {
    ClockSync sync;
    sync.addSample(1'000, 50'000, 3'000);
    EXPECT_EQ(sync.rttMs(), 2.0);
    EXPECT_EQ(sync.bestRTTMicros(), 2'000u);
    EXPECT_EQ(sync.samplesSinceBest(), 0);
    EXPECT_EQ(sync.offsetMicros(), 48'000);
    // The age of a remote stamp, never negative.
    EXPECT_EQ(sync.millisecondsSince(60'000, 13'500), 1.5);
    EXPECT_EQ(sync.millisecondsSince(60'000, 11'000), 0.0);

    sync.addSample(10'000, 90'000, 14'000);
    EXPECT_DOUBLE_EQ(sync.rttMs(), 2.4);
    EXPECT_EQ(sync.offsetMicros(), 48'000);
    EXPECT_EQ(sync.samplesSinceBest(), 1);

    sync.addSample(20'000, 70'000, 22'000); // ties count
    EXPECT_EQ(sync.offsetMicros(), 49'000);
    EXPECT_EQ(sync.samplesSinceBest(), 0);

    ClockSync odd; // the midpoint of an odd round trip rounds down; the offset may be negative
    odd.addSample(10'000, 2'000, 10'003);
    EXPECT_EQ(odd.offsetMicros(), -8'001);
}

TEST(ClockSyncTest, WorseSamplesTakeOverOnTheThirtyFirst) {
    ClockSync sync;
    sync.addSample(0, 1'000, 100);
    for (int i = 1; i <= 30; ++i) {
        sync.addSample(0, 7'000, 5'000);
        EXPECT_EQ(sync.offsetMicros(), 950);
        EXPECT_EQ(sync.samplesSinceBest(), i);
    }
    sync.addSample(0, 7'000, 5'000);
    EXPECT_EQ(sync.offsetMicros(), 4'500);
    EXPECT_EQ(sync.bestRTTMicros(), 5'000u);
    EXPECT_EQ(sync.samplesSinceBest(), 0);
}

TEST(ClockSyncTest, IgnoresAnswersBeforeTheProbeAndTimesBeyondTheLimit) {
    ClockSync sync;
    sync.addSample(1'000, 50'000, 3'000);
    const ClockSync before = sync;
    sync.addSample(3'000, 50'000, 2'999);
    sync.addSample(limit, 50'000, limit + 10);
    sync.addSample(1'000, limit, 3'000);
    sync.addSample(1'000, UINT64_MAX, 3'000);
    sync.addSample(1'000, 50'000, limit);
    EXPECT_EQ(sync, before);
}

TEST(ClockSyncTest, TimesJustBelowTheLimitDoNotOverflow) {
    ClockSync sync;
    sync.addSample(limit - 1, 0, limit - 1);
    EXPECT_EQ(sync.offsetMicros(), -static_cast<std::int64_t>(limit - 1));
    EXPECT_EQ(sync.millisecondsSince(limit - 1, 0), 0.0);
    EXPECT_EQ(sync.millisecondsSince(UINT64_MAX, 0), 0.0);

    ClockSync ahead;
    ahead.addSample(0, limit - 1, 0);
    EXPECT_EQ(ahead.offsetMicros(), static_cast<std::int64_t>(limit - 1));
    EXPECT_DOUBLE_EQ(ahead.millisecondsSince(0, UINT64_MAX), (0x1p64 - 1 + 0x1p63 - 1) / 1000.0);
}

} // namespace
} // namespace velm
