#include "Velm_Host/ui/DeviceCardsState.h"

#include <algorithm>
#include <cmath>

namespace velm {

std::optional<Date> DeviceCardsState::awayEnd(std::string_view id) const {
    const auto found = awayEnds.find(id);
    if (found == awayEnds.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<const PairedDevice*> DeviceCardsState::ordered() const {
    std::vector<const PairedDevice*> result;
    result.reserve(devices.size());
    for (const PairedDevice& device : devices) {
        if (isLive(device.id)) {
            result.push_back(&device);
        }
    }
    for (const PairedDevice& device : devices) {
        if (!isLive(device.id)) {
            result.push_back(&device);
        }
    }
    return result;
}

int DeviceCardsState::placeholderIndex(std::string_view id) const {
    std::vector<const PairedDevice*> byPairing;
    byPairing.reserve(devices.size());
    for (const PairedDevice& device : devices) {
        byPairing.push_back(&device);
    }
    std::stable_sort(byPairing.begin(), byPairing.end(),
                     [](const PairedDevice* a, const PairedDevice* b) { return a->pairedAt < b->pairedAt; });
    const auto found = std::find_if(byPairing.begin(), byPairing.end(),
                                    [&](const PairedDevice* device) { return device->id == id; });
    return found == byPairing.end() ? 0 : static_cast<int>(found - byPairing.begin());
}

std::chrono::milliseconds DeviceCardsState::refreshDelay(Date now, std::chrono::milliseconds tick) const {
    double delay = std::chrono::duration<double, std::milli>(tick).count();
    for (const auto& [id, end] : awayEnds) {
        const double until = end.secondsSince(now) * 1000;
        if (until > 0) {
            delay = std::min(delay, until);
        }
    }
    // Within a tick, so the conversion cannot overflow; rounded up so the end has passed by then.
    return std::chrono::milliseconds(std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(delay))));
}

} // namespace velm
