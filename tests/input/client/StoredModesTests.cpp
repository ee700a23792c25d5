// The stored forms of the client's view and touch settings.
#include "input/client/ScalingMode.h"
#include "input/client/TouchMode.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(StoredModes, KeepTheirStoredNamesExactly) {
    EXPECT_EQ(rawValue(ScalingMode::pixelPerfect), "pixelPerfect");
    EXPECT_EQ(rawValue(TouchMode::direct), "direct");
    for (const ScalingMode mode : allScalingModes) {
        EXPECT_EQ(scalingModeFromRawValue(rawValue(mode)), mode);
    }
    for (const TouchMode mode : allTouchModes) {
        EXPECT_EQ(touchModeFromRawValue(rawValue(mode)), mode);
    }
    for (const std::string_view unknown : {"", "Fit", "pixel perfect", "fit "}) {
        EXPECT_FALSE(scalingModeFromRawValue(unknown)) << unknown;
    }
    EXPECT_FALSE(touchModeFromRawValue("Direct"));
}

} // namespace
} // namespace velm
