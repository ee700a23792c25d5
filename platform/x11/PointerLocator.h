#pragma once

#include "platform/x11/ScreenPoint.h"

#include <optional>

namespace velm {

// Where the desktop's pointer is.
class PointerLocator {
public:
    virtual ~PointerLocator() = default;

    // Nothing without a desktop (or with the pointer on another X screen).
    virtual std::optional<ScreenPoint> position() = 0;
};

} // namespace velm
