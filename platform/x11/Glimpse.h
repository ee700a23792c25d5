#pragma once

#include "platform/core/Bytes.h"
#include "platform/display/ScreenCapture.h"
#include "platform/display/ScreenList.h"
#include "platform/image/Image.h"

#include <cstddef>
#include <optional>

namespace velm {

// A still of the main screen as a JPEG no larger than a byte budget: the quality, then the size,
// are stepped down until it fits.
namespace Glimpse {

// The most pixels read from the screen at once (an 8K screen's, and a little more): a larger main
// screen is read in bands, each shrunk as it comes, so that even the largest X screen (32767 pixels a
// side, 4 GiB of pixels) costs a glimpse one band and the shrunk picture, each within this bound.
inline constexpr std::size_t maxReadPixels = std::size_t{1} << 25;

// The first step that fits; nothing when not even the smallest does (or the image is not valid).
std::optional<Bytes> encode(const Image& image, std::size_t budget);

// The main screen, read and encoded; nothing without a desktop or when nothing fits.
std::optional<Bytes> take(const ScreenList& screens, ScreenCapture& capture, std::size_t budget);

// `image` shrunk to `width` × `height` (each at least 1 and at most the image's), every pixel the
// mean of the pixels it covers.
Image shrunk(const Image& image, int width, int height);

} // namespace Glimpse

} // namespace velm
