// The stored forms of the client's view and touch settings.
#include "input/ScalingMode.h"
#include "input/TouchMode.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(StoredModes, ScalingModesKeepTheirStoredNames) {
    EXPECT_EQ(rawValue(ScalingMode::fit), "fit");
    EXPECT_EQ(rawValue(ScalingMode::fill), "fill");
    EXPECT_EQ(rawValue(ScalingMode::pixelPerfect), "pixelPerfect");
    for (const ScalingMode mode : allScalingModes) {
        EXPECT_EQ(scalingModeFromRawValue(rawValue(mode)), mode);
    }
    for (const std::string_view unknown : {"", "Fit", "pixel perfect", "fit "}) {
        EXPECT_FALSE(scalingModeFromRawValue(unknown)) << unknown;
    }
}

TEST(StoredModes, TouchModesKeepTheirStoredNames) {
    EXPECT_EQ(rawValue(TouchMode::trackpad), "trackpad");
    EXPECT_EQ(rawValue(TouchMode::direct), "direct");
    for (const TouchMode mode : allTouchModes) {
        EXPECT_EQ(touchModeFromRawValue(rawValue(mode)), mode);
    }
    for (const std::string_view unknown : {"", "Direct", "directTouch"}) {
        EXPECT_FALSE(touchModeFromRawValue(unknown)) << unknown;
    }
}

} // namespace
} // namespace velm
