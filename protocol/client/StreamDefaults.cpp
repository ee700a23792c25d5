#include "protocol/client/StreamDefaults.h"

#include <algorithm>
#include <cmath>

namespace velm {

std::int64_t StreamDefaults::resolvedFPS(std::int64_t preferred, std::int64_t screenMax) {
    if (preferred > automaticFPS) {
        return preferred;
    }
    return screenMax < highRefreshRate ? standardRate : highRefreshRate;
}

std::string_view StreamDefaults::favorsFrameRateKeyFor(bool app, bool away) {
    if (away) {
        return awayFavorsFrameRateKey;
    }
    return app ? appFavorsFrameRateKey : favorsFrameRateKey;
}

bool StreamDefaults::favorsFrameRate(bool app, bool away, const Settings& store) {
    // Anything but a stored Boolean reads as the default: on from away, off at home.
    return store.boolValue(favorsFrameRateKeyFor(app, away)).value_or(away);
}

bool StreamDefaults::setFavorsFrameRate(bool favors, bool app, bool away, Settings& store) {
    return store.setBool(favorsFrameRateKeyFor(app, away), favors);
}

bool StreamDefaults::migrate(Settings& store) {
    const std::int64_t generation = store.integerValue(generationKey).value_or(0);
    if (generation >= currentGeneration) {
        return true;
    }
    if (generation < 1 &&
        !(store.setInteger(preferredFPSKey, automaticFPS) && store.setBool(usesStandardEncoderKey, true))) {
        return false;
    }
    return store.setBool(favorsFrameRateKey, false) && store.setInteger(generationKey, currentGeneration);
}

double StreamDefaults::resolvedFactor(bool unbounded, bool allowsReduced, double factor) {
    if (!std::isfinite(factor)) {
        return standardFactor;
    }
    if (unbounded) {
        return std::max(factor, standardFactor);
    }
    return allowsReduced && factorIsReduced(unbounded, factor) ? factor : standardFactor;
}

bool StreamDefaults::factorIsReduced(bool unbounded, double factor) {
    return !unbounded && factor >= smallestReducedFactor && factor < standardFactor;
}

} // namespace velm
