#pragma once

#include "protocol/DeviceShape.h"

#include <QRectF>
#include <QSizeF>
#include <optional>

namespace velm {

// Where a computer without a screen of its own and its snapshot stand when no picture of its
// display can be had: both on the bottom edge of a container, the computer at the leading side
// and the snapshot at the trailing side, raised a little; the computer alone is centred.
struct LoneLayout {
    // Absent without a snapshot.
    std::optional<QRectF> snapshot;
    // The snapshot's rounded corners.
    double snapshotRadius = 0;
    QRectF computer;

    // The container is the space offered; sizes are the pictures' own (any unit, both above 0).
    static LoneLayout of(const QRectF& container, DeviceShape shape, QSizeF computer,
                         std::optional<QSizeF> snapshot);

    // How much of the container's width the computer takes.
    static double computerShare(DeviceShape shape, bool withSnapshot);
};

} // namespace velm
