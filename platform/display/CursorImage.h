#pragma once

#include "platform/image/Image.h"

#include <cstdint>

namespace velm {

// The pointer's picture as the desktop draws it.
struct CursorImage {
    // Straight (not premultiplied) rgba.
    Image image;
    // The pixel of the picture that points, from its top-left corner.
    int hotSpotX = 0;
    int hotSpotY = 0;
    // Changes with every new cursor the server shows.
    std::uint64_t serial = 0;
};

} // namespace velm
