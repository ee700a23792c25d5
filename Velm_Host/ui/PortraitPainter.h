#pragma once

#include "Velm_Host/ui/PortraitLook.h"
#include "protocol/DeviceShape.h"

#include <QRectF>
#include <optional>

class QPainter;

namespace velm {

// Paints a device portrait's look into a frame, as large as fits, standing on the frame's bottom
// edge and centred across it: the finished picture when there is one, else the computer beside its
// snapshot, else the device drawn by shape with the snapshot on its screen.
struct PortraitPainter {
    // A computer's picture and its snapshot stand in a container of this width / height.
    static constexpr double loneAspect = 1.6;

    DeviceShape shape = DeviceShape::iPad;
    std::optional<double> knownScreenAspect;

    void paint(QPainter& painter, const QRectF& frame, const PortraitLook& look) const;
};

} // namespace velm
