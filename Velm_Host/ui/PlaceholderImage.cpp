#include "Velm_Host/ui/PlaceholderImage.h"

#include "Velm_Host/ui/DropShadow.h"

#include <QColorSpace>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <cmath>

namespace velm {
namespace {

constexpr double maxSide = 4096;

QColor colourOf(const PlaceholderColour& colour) {
    return QColor::fromRgbF(colour.red, colour.green, colour.blue);
}

std::optional<int> wholePixels(double length) {
    if (!std::isfinite(length)) {
        return std::nullopt;
    }
    const double rounded = std::round(length);
    if (rounded < 1 || rounded > maxSide) {
        return std::nullopt;
    }
    return static_cast<int>(rounded);
}

// A small rounded screen outline in the middle, white with a soft shadow under it.
void paintScreenOutline(QPainter& painter, int width, int height) {
    const double across = 0.34 * std::min(width, height);
    const double line = 0.085 * across;
    const double half = line / 2;
    QRectF outline(0, 0, across, across / 1.204);
    outline.moveCenter(QPointF(width / 2.0, height / 2.0));
    outline.adjust(half, half, -half, -half);
    const double radius = std::max(0.19 * across - half, 0.0);
    QPainterPath path;
    path.addRoundedRect(outline, radius, radius);

    QPainterPathStroker stroker;
    stroker.setWidth(line);
    DropShadow{QColor::fromRgbF(0, 0, 0, 0.25F), 1.5 * line, 0.4 * line}.paint(painter,
                                                                               stroker.createStroke(path));
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.92F), line));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

} // namespace

const std::array<std::array<PlaceholderColour, 2>, 8>& placeholderPalette() {
    static const std::array<std::array<PlaceholderColour, 2>, 8> palette{{
        {{{0.35F, 0.34F, 0.84F}, {0.93F, 0.36F, 0.62F}}},
        {{{0.19F, 0.78F, 0.71F}, {0.15F, 0.40F, 0.85F}}},
        {{{1.00F, 0.62F, 0.25F}, {0.90F, 0.25F, 0.35F}}},
        {{{0.62F, 0.35F, 0.93F}, {0.24F, 0.55F, 0.98F}}},
        {{{0.40F, 0.80F, 0.40F}, {0.10F, 0.60F, 0.65F}}},
        {{{0.98F, 0.45F, 0.60F}, {1.00F, 0.70F, 0.35F}}},
        {{{0.12F, 0.16F, 0.35F}, {0.35F, 0.25F, 0.60F}}},
        {{{0.98F, 0.85F, 0.30F}, {0.35F, 0.75F, 0.45F}}},
    }};
    return palette;
}

std::optional<QImage> placeholderDeviceImage(int index, QSizeF size) {
    const auto width = wholePixels(size.width());
    const auto height = wholePixels(size.height());
    if (!width || !height) {
        return std::nullopt;
    }
    QImage image(*width, *height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return std::nullopt;
    }
    // The palette's numbers are Display P3 values: they are painted as they are and the image
    // says which space they belong to.
    image.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    const auto& pair = placeholderPalette()[static_cast<std::size_t>((index % 8 + 8) % 8)];
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, *width, *height);
    gradient.setColorAt(0, colourOf(pair[0]));
    gradient.setColorAt(1, colourOf(pair[1]));
    painter.fillRect(image.rect(), gradient);
    paintScreenOutline(painter, *width, *height);
    painter.end();
    return image;
}

} // namespace velm
