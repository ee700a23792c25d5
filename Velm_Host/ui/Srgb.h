#pragma once

#include <QImage>

namespace velm {

// The image with its colours in sRGB. Painting does not convert between colour spaces, so every
// picture from elsewhere is brought into the one the views paint in first; an image without a
// colour space is taken to be sRGB already.
QImage inSrgb(const QImage& image);

} // namespace velm
