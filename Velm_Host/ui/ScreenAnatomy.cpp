#include "Velm_Host/ui/ScreenAnatomy.h"

#include "Velm_Host/ui/RGBABuffer.h"
#include "Velm_Host/ui/ScreenSearch.h"
#include "Velm_Host/ui/Srgb.h"

#include <QColorSpace>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace velm {
namespace {

std::optional<RGBABuffer> rasterised(const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    auto buffer = RGBABuffer::zeroed(image.width(), image.height());
    if (!buffer) {
        return std::nullopt;
    }
    const QImage pixels = inSrgb(image).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const std::size_t rowBytes = static_cast<std::size_t>(buffer->width) * RGBABuffer::bytesPerPixel;
    for (int y = 0; y < pixels.height(); ++y) {
        std::memcpy(buffer->bytes.data() + buffer->offset(0, y), pixels.constScanLine(y), rowBytes);
    }
    return buffer;
}

QImage imageOf(const RGBABuffer& buffer) {
    QImage image(static_cast<int>(buffer.width), static_cast<int>(buffer.height),
                 QImage::Format_RGBA8888_Premultiplied);
    const std::size_t rowBytes = static_cast<std::size_t>(buffer.width) * RGBABuffer::bytesPerPixel;
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(image.scanLine(y), buffer.bytes.data() + buffer.offset(0, y), rowBytes);
    }
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

QImage greyImage(const ScreenMask& mask) {
    QImage image(static_cast<int>(mask.width), static_cast<int>(mask.height), QImage::Format_Grayscale8);
    const auto width = static_cast<std::size_t>(mask.width);
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(image.scanLine(y), mask.values.data() + static_cast<std::size_t>(y) * width, width);
    }
    return image;
}

QImage alphaOf(const QImage& greyMask) {
    QImage alpha(greyMask.size(), QImage::Format_Alpha8);
    for (int y = 0; y < greyMask.height(); ++y) {
        std::memcpy(alpha.scanLine(y), greyMask.constScanLine(y), static_cast<std::size_t>(greyMask.width()));
    }
    return alpha;
}

} // namespace

std::optional<ScreenAnatomy> screenAnatomy(const QImage& image, bool floodFill) {
    const auto raster = rasterised(image);
    if (!raster) {
        return std::nullopt;
    }
    const auto search = ScreenSearch::run(*raster, floodFill);
    if (!search) {
        return std::nullopt;
    }
    ScreenAnatomy anatomy{imageOf(search->picture), std::nullopt, QRectF()};
    if (search->screen) {
        const PixelBox& box = search->screen->box;
        anatomy.mask = greyImage(search->screen->mask);
        anatomy.screenRect = QRectF(static_cast<qreal>(box.left), static_cast<qreal>(box.top),
                                    static_cast<qreal>(box.width()), static_cast<qreal>(box.height()));
    }
    return anatomy;
}

QImage ScreenAnatomy::filled(const std::optional<QImage>& fill) const {
    if (!fill || !mask || fill->width() == 0 || fill->height() == 0) {
        return picture;
    }
    const QImage content = inSrgb(*fill);
    QImage screen(picture.size(), QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::transparent);
    {
        QPainter painter(&screen);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.fillRect(screenRect, Qt::black);
        const qreal scale =
            std::min(screenRect.width() / content.width(), screenRect.height() / content.height());
        QRectF target(0, 0, scale * content.width(), scale * content.height());
        target.moveCenter(screenRect.center());
        painter.drawImage(target, content);
        // The mask's grey levels are the screen's coverage, so its soft edges stay soft.
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, alphaOf(*mask));
    }
    QImage canvas = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    canvas.setColorSpace(QColorSpace(QColorSpace::SRgb));
    QPainter painter(&canvas);
    painter.drawImage(0, 0, screen);
    painter.end();
    return canvas;
}

} // namespace velm
