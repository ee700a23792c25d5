#include "Velm_Host/ui/LoneLayout.h"

#include <algorithm>

namespace velm {
namespace {

// `size` scaled to fit within `room`, keeping its aspect; nothing for an empty size.
std::optional<QSizeF> fitted(QSizeF size, QSizeF room) {
    if (!(size.width() > 0 && size.height() > 0)) {
        return std::nullopt;
    }
    const double scale = std::min(room.width() / size.width(), room.height() / size.height());
    return QSizeF(size.width() * scale, size.height() * scale);
}

} // namespace

LoneLayout LoneLayout::of(const QRectF& container, DeviceShape shape, QSizeF computer,
                          std::optional<QSizeF> snapshot) {
    const double width = container.width();
    const double gap = 0.04 * width;
    LoneLayout layout;
    layout.snapshotRadius = std::max(3.0, 0.02 * width);
    const auto snapshotSize =
        snapshot ? fitted(*snapshot, QSizeF(0.73 * width, std::max(container.height() - gap, 0.0)))
                 : std::nullopt;
    if (snapshotSize) {
        layout.snapshot = QRectF(QPointF(container.right() - snapshotSize->width(),
                                         container.bottom() - gap - snapshotSize->height()),
                                 *snapshotSize);
    }
    // The computer is given its share of the width; a very tall picture is kept within the height.
    const double share = computerShare(shape, snapshotSize.has_value()) * width;
    const QSizeF computerSize = fitted(computer, QSizeF(share, container.height())).value_or(QSizeF(0, 0));
    const double left =
        snapshotSize ? container.left() : container.left() + (width - computerSize.width()) / 2;
    layout.computer = QRectF(QPointF(left, container.bottom() - computerSize.height()), computerSize);
    return layout;
}

double LoneLayout::computerShare(DeviceShape shape, bool withSnapshot) {
    switch (shape) {
    case DeviceShape::macPro:
        return 0.26;
    case DeviceShape::macMini:
        return withSnapshot ? 0.36 : 0.46;
    default:
        return withSnapshot ? 0.40 : 0.52;
    }
}

} // namespace velm
