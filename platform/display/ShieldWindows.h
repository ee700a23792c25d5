#pragma once

#include "platform/display/Monitor.h"

#include <vector>

namespace velm {

// Opaque windows over whole screens, above every other window, that hide what the screens show from
// whoever sits in front of them while letting clicks through to what lies below.
class ShieldWindows {
public:
    virtual ~ShieldWindows() = default;

    // Covers each of `screens` (by its id and frame) with a shield, made or moved; shields of screens
    // no longer listed go away.
    virtual void cover(const std::vector<Monitor>& screens) = 0;
    // Takes every shield away.
    virtual void uncover() = 0;
};

} // namespace velm
