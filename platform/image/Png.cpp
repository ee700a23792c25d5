#include "platform/image/Png.h"

#include <QBuffer>
#include <QImage>

namespace velm::Png {

std::optional<Bytes> encode(const Image& image) {
    if (!image.isValid()) {
        return std::nullopt;
    }
    // bgrx is what QImage calls RGB32 on a little-endian machine; its fourth byte is not read.
    const QImage picture(image.pixels.data(), image.width, image.height,
                         static_cast<qsizetype>(image.width) * static_cast<qsizetype>(Image::bytesPerPixel),
                         image.format == Image::Format::rgba ? QImage::Format_RGBA8888
                                                             : QImage::Format_RGB32);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return Bytes(encoded.begin(), encoded.end());
}

} // namespace velm::Png
