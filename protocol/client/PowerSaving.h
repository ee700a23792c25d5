#pragma once

#include <optional>

namespace velm {

// When the client saves power on battery. Saving starts below lowLevel and, once on, lasts until the
// battery is back at recoveryLevel, so that a level near the threshold does not flip it back and forth.
class PowerSaving {
public:
    PowerSaving() = delete;

    // Fractions of a full battery.
    static constexpr float lowLevel = 0.2f;
    static constexpr float recoveryLevel = 0.25f;

    // batteryLevel is absent when unknown; a negative or not-a-number level counts as unknown. exempt
    // keeps a device outside low-power mode from saving at any level.
    static bool shouldSavePower(bool lowPowerMode, std::optional<float> batteryLevel, bool exempt,
                                bool alreadySaving);
};

} // namespace velm
