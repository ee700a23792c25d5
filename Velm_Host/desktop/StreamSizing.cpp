#include "Velm_Host/desktop/StreamSizing.h"

#include <algorithm>
#include <cmath>

namespace velm {
namespace {

constexpr std::int64_t smallestSide = 2;
// Refresh rates from the X server are taken within this range before they are rounded.
constexpr double highestRefresh = 1000;

std::int64_t evenFloor(double value) {
    const auto whole = static_cast<std::int64_t>(std::floor(value));
    return std::max(smallestSide, whole - whole % 2);
}

// The screen's rate in whole frames, when the server knows a sensible one.
std::optional<std::int64_t> screenFPS(std::optional<double> refreshRate) {
    if (!refreshRate || !std::isfinite(*refreshRate) || *refreshRate < 1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(std::lround(std::min(*refreshRate, highestRefresh)));
}

} // namespace

StreamSizing::Size StreamSizing::fit(int screenWidth, int screenHeight, std::int64_t maxWidth,
                                     std::int64_t maxHeight) {
    if (screenWidth <= 0 || screenHeight <= 0) {
        return {};
    }
    const double width = screenWidth;
    const double height = screenHeight;
    // Clamped first, so that no request is too small to show anything or large enough to matter. A
    // screen narrower than the smallest side still bounds the box from above, never below its floor.
    const double boxWidth = static_cast<double>(
        std::clamp<std::int64_t>(maxWidth, smallestSide, std::max<std::int64_t>(screenWidth, smallestSide)));
    const double boxHeight = static_cast<double>(std::clamp<std::int64_t>(
        maxHeight, smallestSide, std::max<std::int64_t>(screenHeight, smallestSide)));
    const double scale = std::min({1.0, boxWidth / width, boxHeight / height});
    return {evenFloor(width * scale), evenFloor(height * scale)};
}

std::int64_t StreamSizing::fps(std::int64_t requested, std::optional<std::int64_t> clientMaxFPS,
                               std::optional<double> refreshRate) {
    const auto screen = screenFPS(refreshRate);
    const std::int64_t client = clientMaxFPS.value_or(standardMaxFPS);
    const bool highRate = client > highRateClientAbove && refreshRate && *refreshRate >= highRateRefresh;
    std::int64_t limit = highRate ? client : std::min(client, standardMaxFPS);
    if (screen) {
        limit = std::min(limit, *screen);
    }
    return std::max(minFPS, std::min(requested, limit));
}

StreamDescription StreamSizing::describe(const Monitor& screen, const StreamRequest& request,
                                         std::optional<std::int64_t> clientMaxFPS) {
    const Size size =
        fit(screen.frame.width, screen.frame.height, request.maxPixelWidth, request.maxPixelHeight);
    StreamDescription description;
    description.displayID = screen.id;
    description.codec = VideoCodec::hevc;
    description.pixelWidth = size.width;
    description.pixelHeight = size.height;
    description.fps = fps(request.fps, clientMaxFPS, screen.refreshRate);
    description.bitrate = request.bitrate;
    description.isTestPattern = false;
    description.pointWidth = screen.frame.width;
    description.pointHeight = screen.frame.height;
    return description;
}

} // namespace velm
