#include "protocol/client/PowerSaving.h"

namespace velm {

bool PowerSaving::shouldSavePower(bool lowPowerMode, std::optional<float> batteryLevel, bool exempt,
                                  bool alreadySaving) {
    if (lowPowerMode) {
        return true;
    }
    // Written so that a level that is not a number fails the test too.
    if (!batteryLevel || !(*batteryLevel >= 0.0f) || exempt) {
        return false;
    }
    return *batteryLevel < (alreadySaving ? recoveryLevel : lowLevel);
}

} // namespace velm
