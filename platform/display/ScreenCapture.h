#pragma once

#include "platform/display/ScreenRect.h"
#include "platform/image/Image.h"

#include <optional>

namespace velm {

// Reads what the desktop shows.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // The pixels of `rect` (cut to the desktop) as bgrx; nothing without a desktop or when nothing
    // of the rectangle lies on it.
    virtual std::optional<Image> capture(const ScreenRect& rect) = 0;
};

} // namespace velm
