#include "Velm_Host/ui/DropShadow.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <vector>

namespace velm {
namespace {

// Shadows larger than this many device pixels of blur add nothing visible and only cost time.
constexpr double maxSigma = 256;

// One pass of a box blur of width 2 × reach + 1 over `count` values `stride` apart, edges clear.
void boxPass(std::uint8_t* values, int count, int stride, int reach, std::vector<int>& line) {
    line.assign(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        line[static_cast<std::size_t>(i)] = values[i * stride];
    }
    const int width = 2 * reach + 1;
    int sum = 0;
    for (int i = 0; i < std::min(reach, count); ++i) {
        sum += line[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < count; ++i) {
        if (i + reach < count)
            sum += line[static_cast<std::size_t>(i + reach)];
        if (i - reach - 1 >= 0)
            sum -= line[static_cast<std::size_t>(i - reach - 1)];
        values[i * stride] = static_cast<std::uint8_t>((sum + width / 2) / width);
    }
}

// Three box passes each way come close to a Gaussian blur of the given deviation.
void blur(QImage& alpha, double sigma) {
    const int reach = static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2));
    if (reach < 1) {
        return;
    }
    std::vector<int> line;
    const int stride = static_cast<int>(alpha.bytesPerLine());
    std::uint8_t* bits = alpha.bits();
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < alpha.height(); ++y)
            boxPass(bits + y * stride, alpha.width(), 1, reach, line);
        for (int x = 0; x < alpha.width(); ++x)
            boxPass(bits + x, alpha.height(), stride, reach, line);
    }
}

} // namespace

void DropShadow::paint(QPainter& painter, const QPainterPath& shape) const {
    if (shape.isEmpty()) {
        return;
    }
    const QPainterPath onDevice = painter.combinedTransform().map(shape);
    cast(painter, onDevice.boundingRect(), [&](QPainter& mask) { mask.fillPath(onDevice, Qt::black); });
}

void DropShadow::paint(QPainter& painter, const QImage& picture, const QRectF& target) const {
    if (picture.isNull() || target.isEmpty()) {
        return;
    }
    const QTransform transform = painter.combinedTransform();
    cast(painter, transform.mapRect(target), [&](QPainter& mask) {
        mask.setRenderHint(QPainter::SmoothPixmapTransform);
        mask.setTransform(transform, true);
        mask.drawImage(target, picture);
    });
}

void DropShadow::cast(QPainter& painter, const QRectF& bounds,
                      const std::function<void(QPainter&)>& coverage) const {
    const QTransform transform = painter.combinedTransform();
    const double scale = std::sqrt(std::abs(transform.determinant()));
    const double sigma = radius * scale / 2;
    if (!std::isfinite(sigma) || sigma < 0 || sigma > maxSigma || !std::isfinite(offsetDown * scale)) {
        return;
    }
    const double margin = std::ceil(3 * sigma) + 2;
    // Only the part that can reach the device is drawn, however large the shape.
    const QRectF device(0, 0, painter.device()->width(), painter.device()->height());
    const QRectF reach = device.adjusted(-margin, -margin - offsetDown * scale, margin, margin);
    const QRect area = bounds.adjusted(-margin, -margin, margin, margin).intersected(reach).toAlignedRect();
    if (area.isEmpty()) {
        return;
    }
    QImage alpha(area.size(), QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter mask(&alpha);
        mask.setRenderHint(QPainter::Antialiasing);
        mask.translate(-area.topLeft());
        coverage(mask);
    }
    blur(alpha, sigma);

    QImage tinted(area.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(colour);
    {
        QPainter tint(&tinted);
        tint.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        tint.drawImage(0, 0, alpha);
    }
    painter.save();
    // The shadow is made in device pixels, but the painter scales by the device's pixel ratio under
    // any transform of its own: only its inverse lays the shadow where its shape is.
    const qreal pixelRatio = painter.device()->devicePixelRatio();
    painter.setWorldTransform(QTransform::fromScale(1 / pixelRatio, 1 / pixelRatio));
    painter.drawImage(QPointF(area.left(), area.top() + offsetDown * scale), tinted);
    painter.restore();
}

} // namespace velm
