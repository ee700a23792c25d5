#include "Velm_Host/ui/PortraitLook.h"

#include "Velm_Host/core/SnapshotStore.h"
#include "Velm_Host/ui/DeviceGeometry.h"
#include "Velm_Host/ui/ScreenAnatomy.h"
#include "Velm_Host/ui/Srgb.h"

#include <QColorSpace>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace velm {
namespace {

constexpr double lowestSnapshotAspect = 4.0 / 3.0;
constexpr double highestSnapshotAspect = 2.4;
// A composite larger than this on a side would come only from a malformed picture.
constexpr double maxCompositeSide = 8192;

std::optional<QImage> readSnapshot(const SnapshotStore& store, const std::string& id) {
    const auto image = SnapshotStore::image(store.file(id));
    if (!image || !image->isValid() || image->format != Image::Format::rgba) {
        return std::nullopt;
    }
    QImage snapshot(image->width, image->height, QImage::Format_RGBA8888);
    const auto rowBytes = static_cast<std::size_t>(image->width) * Image::bytesPerPixel;
    for (int y = 0; y < image->height; ++y) {
        std::memcpy(snapshot.scanLine(y), image->pixels.data() + static_cast<std::size_t>(y) * rowBytes,
                    rowBytes);
    }
    snapshot.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return snapshot;
}

std::optional<QImage> call(const PortraitSources::Picture& source) {
    return source ? source() : std::nullopt;
}

// A computer without a screen of its own beside its display: the display with the snapshot on its
// screen, raised a little, and the computer in front of its foot near the right edge (a tower
// stands to the right of the display instead).
QImage displayComposite(const ScreenAnatomy& display, const QImage& computer, DeviceShape shape,
                        const std::optional<QImage>& snapshot) {
    const QImage screen = snapshot ? display.filled(snapshot) : display.picture;
    const double displayWidth = screen.width();
    const double displayHeight = screen.height();
    const double computerWidth = (shape == DeviceShape::macMini ? 0.2 : 0.29) * displayWidth;
    const double computerHeight = computerWidth * computer.height() / computer.width();
    const bool tower = shape == DeviceShape::macPro;
    const double raise = tower ? 0 : 0.045 * displayWidth;
    const double canvasWidth = tower ? 1.04 * displayWidth + computerWidth : displayWidth;
    const double canvasHeight = tower ? std::max(computerHeight, displayHeight) : raise + displayHeight;
    if (!(canvasWidth >= 1 && canvasHeight >= 1 && canvasWidth <= maxCompositeSide &&
          canvasHeight <= maxCompositeSide)) {
        return screen;
    }
    QImage canvas(static_cast<int>(canvasWidth), static_cast<int>(canvasHeight),
                  QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) {
        return screen;
    }
    canvas.fill(Qt::transparent);
    canvas.setColorSpace(QColorSpace(QColorSpace::SRgb));
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Both stand on the canvas's bottom edge, the display raised by `raise`.
    const double bottom = canvas.height();
    painter.drawImage(QRectF(0, bottom - raise - displayHeight, displayWidth, displayHeight), screen);
    const double computerRight = tower ? canvas.width() : 0.985 * displayWidth;
    painter.drawImage(
        QRectF(computerRight - computerWidth, bottom - computerHeight, computerWidth, computerHeight),
        inSrgb(computer));
    painter.end();
    return canvas;
}

} // namespace

PortraitLook PortraitLook::load(const PortraitSources& sources, const SnapshotStore& store) {
    PortraitLook look;
    if (sources.showsSnapshot) {
        look.snapshot = readSnapshot(store, sources.id);
    }
    const auto picture = call(sources.picture);
    const auto anatomy = picture ? screenAnatomy(*picture, sources.shape == DeviceShape::iMac) : std::nullopt;
    if (!anatomy) {
        return look;
    }
    if (anatomy->mask) {
        std::optional<QImage> fill = look.snapshot;
        if (!fill && sources.screenFill) {
            fill = sources.screenFill(anatomy->screenRect.size());
        }
        look.whole = anatomy->filled(fill);
        return look;
    }
    if (!DeviceGeometry::standsBesideItsScreen(sources.shape)) {
        return look;
    }
    const auto display = call(sources.display);
    const auto displayAnatomy = display ? screenAnatomy(*display, false) : std::nullopt;
    if (displayAnatomy && displayAnatomy->mask) {
        look.whole = displayComposite(*displayAnatomy, anatomy->picture, sources.shape, look.snapshot);
    } else {
        look.lone = anatomy->picture;
    }
    return look;
}

double PortraitLook::screenAspect(std::optional<double> knownScreenAspect, DeviceShape shape,
                                  const std::optional<QImage>& snapshot) {
    if (DeviceGeometry::standsBesideItsScreen(shape) && snapshot && snapshot->height() >= 1) {
        const double aspect = static_cast<double>(snapshot->width()) / snapshot->height();
        return std::clamp(aspect, lowestSnapshotAspect, highestSnapshotAspect);
    }
    if (knownScreenAspect && std::isfinite(*knownScreenAspect) && *knownScreenAspect > 0) {
        return *knownScreenAspect;
    }
    return DeviceGeometry::defaultScreenAspect(shape);
}

} // namespace velm
