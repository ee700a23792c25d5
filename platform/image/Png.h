#pragma once

#include "platform/core/Bytes.h"
#include "platform/image/Image.h"

#include <optional>

namespace velm {

// PNG files through Qt Gui's built-in codec. QImage needs no application object and is safe on any
// thread, unlike the pixmaps that theme icons are drawn into.
namespace Png {

// The picture with its alpha kept (rgba) or opaque (bgrx); nothing when it is not valid.
std::optional<Bytes> encode(const Image& image);

} // namespace Png

} // namespace velm
