#include "Velm_Host/ui/Srgb.h"

#include <QColorSpace>

namespace velm {

QImage inSrgb(const QImage& image) {
    const QColorSpace srgb(QColorSpace::SRgb);
    if (image.colorSpace().isValid() && image.colorSpace() != srgb) {
        return image.convertedToColorSpace(srgb);
    }
    return image;
}

} // namespace velm
