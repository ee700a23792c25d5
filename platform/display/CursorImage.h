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
    // The pointer as large as the desktop shows it, in the desktop's pixels, and its hot spot there: the
    // picture's own size and hot spot, unless a pointer too large to keep was scaled down into it.
    int shownWidth = 0;
    int shownHeight = 0;
    int shownHotSpotX = 0;
    int shownHotSpotY = 0;
    // Changes with every new cursor the server shows.
    std::uint64_t serial = 0;
};

} // namespace velm
