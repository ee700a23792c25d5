#include "Velm_Host/ui/PortraitPainter.h"

#include "Velm_Host/ui/DeviceArt.h"
#include "Velm_Host/ui/DropShadow.h"
#include "Velm_Host/ui/LoneLayout.h"
#include "Velm_Host/ui/Srgb.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>

namespace velm {
namespace {

QColor black(double opacity) {
    return QColor::fromRgbF(0, 0, 0, static_cast<float>(opacity));
}

// The largest rectangle of the given width / height that fits in `frame`, on its bottom edge and
// centred across it.
QRectF standing(const QRectF& frame, double aspect) {
    if (!(aspect > 0) || frame.isEmpty()) {
        return {};
    }
    const double width = std::min(frame.width(), frame.height() * aspect);
    const double height = width / aspect;
    return {frame.left() + (frame.width() - width) / 2, frame.bottom() - height, width, height};
}

double aspectOf(const QImage& image) {
    return image.height() > 0 ? static_cast<double>(image.width()) / image.height() : 0;
}

void paintPicture(QPainter& painter, const QRectF& target, const QImage& picture, DropShadow shadow) {
    shadow.paint(painter, picture, target);
    painter.drawImage(target, picture);
}

void paintWhole(QPainter& painter, const QRectF& frame, const QImage& whole) {
    const QImage picture = inSrgb(whole);
    paintPicture(painter, standing(frame, aspectOf(picture)), picture, {black(0.22), 10, 6});
}

void paintLone(QPainter& painter, const QRectF& frame, DeviceShape shape, const QImage& lone,
               const std::optional<QImage>& snapshot) {
    const QRectF container = standing(frame, PortraitPainter::loneAspect);
    const QImage computer = inSrgb(lone);
    std::optional<QSizeF> snapshotSize;
    if (snapshot && !snapshot->isNull()) {
        snapshotSize = QSizeF(snapshot->size());
    }
    const LoneLayout layout = LoneLayout::of(container, shape, QSizeF(computer.size()), snapshotSize);
    if (layout.snapshot) {
        QPainterPath outline;
        outline.addRoundedRect(*layout.snapshot, layout.snapshotRadius, layout.snapshotRadius);
        DropShadow{black(0.22), 8, 5}.paint(painter, outline);
        painter.save();
        painter.setClipPath(outline, Qt::IntersectClip);
        painter.drawImage(*layout.snapshot, inSrgb(*snapshot));
        painter.restore();
        QColor line = QPalette().color(QPalette::WindowText);
        line.setAlphaF(0.18F);
        painter.setPen(QPen(line, 1));
        painter.setBrush(Qt::NoBrush);
        const QRectF inside = layout.snapshot->adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(inside, layout.snapshotRadius - 0.5, layout.snapshotRadius - 0.5);
    }
    paintPicture(painter, layout.computer, computer, {black(0.30), 6, 4});
}

void paintDrawn(QPainter& painter, const QRectF& frame, DeviceShape shape, double screenAspect,
                const std::optional<QImage>& snapshot) {
    const auto geometry = DeviceArt::geometry(shape, screenAspect);
    if (!geometry) {
        return;
    }
    const QRectF area = standing(frame, geometry->outerWidth / geometry->outerHeight);
    DeviceArt(shape, screenAspect, snapshot).paint(painter, area);
}

} // namespace

void PortraitPainter::paint(QPainter& painter, const QRectF& frame, const PortraitLook& look) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (look.whole) {
        paintWhole(painter, frame, *look.whole);
    } else if (look.lone) {
        paintLone(painter, frame, shape, *look.lone, look.snapshot);
    } else {
        paintDrawn(painter, frame, shape, PortraitLook::screenAspect(knownScreenAspect, shape, look.snapshot),
                   look.snapshot);
    }
    painter.restore();
}

} // namespace velm
