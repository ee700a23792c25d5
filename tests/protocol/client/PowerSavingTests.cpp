#include "protocol/client/PowerSaving.h"

#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace velm {
namespace {

bool saves(std::optional<float> level, bool alreadySaving = false) {
    return PowerSaving::shouldSavePower(false, level, false, alreadySaving);
}

TEST(PowerSaving, LowPowerModeAlwaysSavesOtherwiseTheBatteryLevelDecides) {
    EXPECT_TRUE(PowerSaving::shouldSavePower(true, std::nullopt, true, false));
    EXPECT_TRUE(PowerSaving::shouldSavePower(true, 1.0f, false, false));
    EXPECT_FALSE(PowerSaving::shouldSavePower(false, 0.01f, true, false));
    EXPECT_FALSE(PowerSaving::shouldSavePower(false, 0.01f, true, true));

    // Outside low-power mode, saving starts below 20 % and lasts until 25 %.
    EXPECT_TRUE(saves(0.19f));
    EXPECT_FALSE(saves(0.2f));
    EXPECT_FALSE(saves(0.24f));
    EXPECT_TRUE(saves(0.24f, true));
    EXPECT_FALSE(saves(0.25f, true));
    // Unknown or bogus levels never start or keep it.
    EXPECT_FALSE(saves(std::nullopt, true));
    EXPECT_FALSE(saves(-1.0f));
    EXPECT_FALSE(saves(std::numeric_limits<float>::quiet_NaN(), true));
}

} // namespace
} // namespace velm
