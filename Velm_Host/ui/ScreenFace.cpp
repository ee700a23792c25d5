#include "Velm_Host/ui/ScreenFace.h"

#include "Velm_Host/ui/MeshGradient.h"
#include "Velm_Host/ui/Srgb.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace velm {
namespace {

bool isUsable(const QRectF& area) {
    return std::isfinite(area.x()) && std::isfinite(area.y()) && std::isfinite(area.width()) &&
           std::isfinite(area.height()) && area.width() > 0 && area.height() > 0;
}

void paintSnapshot(QPainter& painter, const QRectF& area, const QImage& snapshot) {
    painter.fillRect(area, Qt::black);
    if (snapshot.width() == 0 || snapshot.height() == 0) {
        return;
    }
    const QImage picture = inSrgb(snapshot);
    const qreal scale = std::min(area.width() / picture.width(), area.height() / picture.height());
    QRectF target(0, 0, scale * picture.width(), scale * picture.height());
    target.moveCenter(area.center());
    painter.drawImage(target, picture);
}

// The field is rasterised at the device's resolution, so it stays smooth at any scale.
void paintField(QPainter& painter, const QRectF& area) {
    const QRectF onDevice = painter.combinedTransform().mapRect(area);
    const QSize pixels(static_cast<int>(std::ceil(std::min(onDevice.width(), 4096.0))),
                       static_cast<int>(std::ceil(std::min(onDevice.height(), 4096.0))));
    const QImage field = MeshGradient::screen().rendered(pixels);
    if (!field.isNull()) {
        painter.drawImage(area, field);
    }
}

void paintGlare(QPainter& painter, const QRectF& area) {
    QLinearGradient glare(area.topLeft(), area.bottomRight());
    glare.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.1F));
    glare.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0));
    glare.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    painter.fillRect(area, glare);
}

} // namespace

void ScreenFace::paint(QPainter& painter, const QRectF& area) const {
    if (!isUsable(area)) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath outline;
    outline.addRoundedRect(area, radius, radius);
    painter.setClipPath(outline, Qt::IntersectClip);
    if (snapshot) {
        paintSnapshot(painter, area, *snapshot);
    } else {
        paintField(painter, area);
    }
    paintGlare(painter, area);
    painter.restore();
}

} // namespace velm
