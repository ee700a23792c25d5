#pragma once

#include "platform/core/Bytes.h"
#include "platform/image/Image.h"

#include <optional>

namespace velm {

// JPEG through TurboJPEG. Safe from any thread: each call has a codec of its own.
namespace Jpeg {

// Quality from 1 to 100 (clamped); chroma halved both ways, as screen pictures bear it well.
// Nothing when the image is not valid or the codec fails.
std::optional<Bytes> encode(const Image& image, int quality);

// The picture as RGBA. Nothing for data that is not a JPEG the codec can read whole, or whose
// picture is larger than `maxPixels` (a small file can announce a huge picture).
std::optional<Image> decode(ByteView data, std::size_t maxPixels = 64 * 1024 * 1024);

} // namespace Jpeg

} // namespace velm
