#include "Velm_Host/ui/ScreenSearch.h"

namespace velm {
namespace {

std::optional<ScreenSearch::Screen> findScreen(const RGBABuffer& picture, bool floodFill) {
    ScreenMask mask = floodFill ? ScreenMask::floodFill(picture) : ScreenMask::blue(picture);
    const auto box = mask.acceptedBox();
    if (!box) {
        return std::nullopt;
    }
    return ScreenSearch::Screen{std::move(mask), *box};
}

} // namespace

std::optional<ScreenSearch> ScreenSearch::run(const RGBABuffer& raster, bool floodFill) {
    if (!raster.isValid()) {
        return std::nullopt;
    }
    const auto bounds = raster.opaqueBounds();
    if (!bounds) {
        return std::nullopt;
    }
    ScreenSearch search{raster.cropped(*bounds), std::nullopt};
    search.screen = findScreen(search.picture, floodFill);
    if (search.screen && search.screen->box.width() < search.screen->box.height()) {
        search.picture = search.picture.turnedCounterClockwise();
        search.screen = findScreen(search.picture, false);
    }
    return search;
}

} // namespace velm
