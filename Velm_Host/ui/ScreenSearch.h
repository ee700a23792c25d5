#pragma once

#include "Velm_Host/ui/PixelBox.h"
#include "Velm_Host/ui/RGBABuffer.h"
#include "Velm_Host/ui/ScreenMask.h"

#include <optional>

namespace velm {

// Where the screen lies in a picture of a device, found on plain pixels so that any picture
// (a theme's, a user's, one sent by another device) can have its screen filled.
struct ScreenSearch {
    struct Screen {
        ScreenMask mask;
        PixelBox box;
    };

    // The picture the screen was looked for in: trimmed to its opaque part and, when the screen
    // first found stood upright, turned a quarter counter-clockwise so that it lies in landscape.
    RGBABuffer picture;
    std::optional<Screen> screen;

    // Nothing when the raster is not a valid buffer or has no opaque pixel. `floodFill` looks for
    // a screen of uniform colour instead of a blue one; the search in a turned picture is always
    // for a blue one.
    static std::optional<ScreenSearch> run(const RGBABuffer& raster, bool floodFill);
};

} // namespace velm
