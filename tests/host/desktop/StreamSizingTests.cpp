#include "Velm_Host/desktop/StreamSizing.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velm {
namespace {

constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();

TEST(StreamSizing, FitsTheScreenIntoTheRequestKeepingItsAspectInEvenNumbers) {
    struct Row {
        int screenWidth, screenHeight;
        std::int64_t maxWidth, maxHeight;
        StreamSizing::Size expected;
    };
    const Row rows[] = {
        {1920, 1080, 1920, 1080, {1920, 1080}}, // exactly
        {1920, 1080, 2732, 2048, {1920, 1080}}, // never scaled up
        {1920, 1080, 1280, 1280, {1280, 720}},  // the width limits
        {2560, 1600, 2732, 1200, {1920, 1200}}, // the height limits
        {1920, 1080, 1000, 1000, {1000, 562}},  // 562.5 rounds down to even
        {1365, 767, 4096, 4096, {1364, 766}},   // odd screens stream even
        {1920, 1080, 0, -5, {2, 2}},            // nonsense asks for the least
        {1920, 1080, huge, huge, {1920, 1080}},
        {0, 1080, 1920, 1080, {0, 0}},
        {1, 1, 1920, 1080, {2, 2}}, // a one-pixel monitor still streams the smallest frame
        {1, 1080, 0, 4096, {2, 1080}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StreamSizing::fit(row.screenWidth, row.screenHeight, row.maxWidth, row.maxHeight),
                  row.expected)
            << row.screenWidth << "x" << row.screenHeight << " into " << row.maxWidth << "x" << row.maxHeight;
    }
}

TEST(StreamSizing, RunsAtLeast15AndAbove60OnlyForAFastClientOnAFastScreen) {
    struct Row {
        std::int64_t requested;
        std::optional<std::int64_t> clientMaxFPS;
        std::optional<double> refreshRate;
        std::int64_t expected;
    };
    const double nan = std::nan("");
    const Row rows[] = {
        {30, 60, 60.0, 30},
        {5, 60, 60.0, 15},      // at least 15
        {-100, 60, 60.0, 15},   //
        {120, 120, 120.0, 120}, // fast client, fast screen
        {120, 119, 120.0, 60},  // a client of 119 is not fast
        {120, 120, 99.9, 60},   // nor is a screen below 100 Hz
        {120, 120, std::nullopt, 60},
        {240, 240, 143.9, 144},        // no faster than the screen
        {144, 120, 144.0, 120},        // nor than the client
        {60, std::nullopt, 144.0, 60}, // until the hello says, the standard rate
        {60, 60, 50.0, 50},            // a slow screen
        {60, 30, 60.0, 30},            // a slow client
        {60, -1, 60.0, 15},
        {huge, huge, 1e300, 1000}, // bounded
        {60, 120, nan, 60},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StreamSizing::fps(row.requested, row.clientMaxFPS, row.refreshRate), row.expected)
            << row.requested << " fps asked, client " << row.clientMaxFPS.value_or(0) << ", screen "
            << row.refreshRate.value_or(0);
    }
}

TEST(StreamSizing, DescribesTheScreenAsHevcAtTheAskedBitrateWithItsPoints) {
    Monitor screen;
    screen.id = 7;
    screen.frame = {1920, 0, 2560, 1440};
    screen.refreshRate = 59.95;
    StreamRequest request;
    request.maxPixelWidth = 1280;
    request.maxPixelHeight = 1280;
    request.fps = 60;
    request.bitrate = 12'000'000;
    const StreamDescription description = StreamSizing::describe(screen, request, 120);
    StreamDescription expected;
    expected.displayID = 7;
    expected.codec = VideoCodec::hevc;
    expected.pixelWidth = 1280;
    expected.pixelHeight = 720;
    expected.fps = 60;
    expected.bitrate = 12'000'000;
    expected.pointWidth = 2560;
    expected.pointHeight = 1440;
    EXPECT_EQ(description, expected);
}

} // namespace
} // namespace velm
